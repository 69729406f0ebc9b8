// The Russian translations (the window's and the engine's texts, the command
// line's, the report's: every translations/*.ts): every text has one, and what
// the tool fills in (numbers, names, line breaks) survives it.

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct Message {
    QString context;
    QString source;
    QString translation;
    QString type;  // "unfinished", "vanished", "obsolete", or empty when done
};

// Line breaks travel as <byte value="xd"/> (a carriage return) among the text.
QString ElementText(QXmlStreamReader &reader)
{
    QString text;
    while (reader.readNext() != QXmlStreamReader::EndElement || reader.name() == QLatin1String("byte")) {
        if (reader.isCharacters())
            text += reader.text();
        else if (reader.isStartElement() && reader.name() == QLatin1String("byte"))
            text += QChar(reader.attributes().value(QLatin1String("value")).mid(1).toUShort(nullptr, 16));
        if (reader.atEnd())
            break;
    }
    return text;
}

std::vector<Message> ReadMessages(const QByteArray &ts, QString &language)
{
    QXmlStreamReader reader(ts);
    std::vector<Message> messages;
    QString context;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("TS")) {
            language = reader.attributes().value(QLatin1String("language")).toString();
        } else if (reader.name() == QLatin1String("name")) {
            context = reader.readElementText();
        } else if (reader.name() == QLatin1String("message")) {
            messages.push_back({context, {}, {}, {}});
        } else if (reader.name() == QLatin1String("source")) {
            messages.back().source = ElementText(reader);
        } else if (reader.name() == QLatin1String("translation")) {
            messages.back().type = reader.attributes().value(QLatin1String("type")).toString();
            messages.back().translation = ElementText(reader);
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return messages;
}

// "%1", "%2" ... as they occur, sorted: a translation may reorder them.
QStringList Placeholders(const QString &text)
{
    static const QRegularExpression placeholder(QStringLiteral("%\\d"));
    QStringList found;
    for (const auto &match : placeholder.globalMatch(text))
        found << match.captured();
    found.sort();
    return found;
}

TEST(RussianTranslation, EveryTextIsTranslatedKeepingPlaceholdersAndLineBreaks)
{
    const QDir folder(QStringLiteral(TALVOR_TRANSLATIONS));
    const QStringList files = folder.entryList({QStringLiteral("*.ts")}, QDir::Files, QDir::Name);
    // The window's, the command line's and the report's at least: a loop over none checks nothing.
    ASSERT_TRUE(files.contains(QStringLiteral("talvor_ru.ts")) && files.contains(QStringLiteral("talvor_cli_ru.ts")) &&
                files.contains(QStringLiteral("talvor_report_ru.ts")))
        << files.join(' ').toStdString();
    for (const QString &name : files) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        QString language;
        const std::vector<Message> messages = ReadMessages(file.readAll(), language);
        EXPECT_TRUE(name.endsWith(QStringLiteral("_ru.ts"))) << name.toStdString() << " is of no known language";
        EXPECT_EQ(language, "ru_RU") << name.toStdString();
        // The windows' and the engine's texts are all there, not a stub.
        EXPECT_GE(messages.size(), name == QLatin1String("talvor_ru.ts") ? 130u : 1u) << name.toStdString();
        for (const Message &m : messages) {
            const std::string where = (name + QStringLiteral(": ") + m.context + ": " + m.source).toStdString();
            EXPECT_TRUE(m.type.isEmpty()) << where << " is " << m.type.toStdString();
            EXPECT_FALSE(m.translation.isEmpty()) << where;
            EXPECT_EQ(Placeholders(m.translation), Placeholders(m.source)) << where;
            EXPECT_EQ(m.translation.count(QLatin1Char('\n')), m.source.count(QLatin1Char('\n'))) << where;
            EXPECT_EQ(m.translation.count(QLatin1Char('\r')), m.source.count(QLatin1Char('\r'))) << where;
        }
    }
}

// The checks above can only fail if the reader sees what lupdate writes.
TEST(RussianTranslation, ReaderSeesStatesAndCarriageReturns)
{
    const QByteArray ts = R"(<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>TForm6</name>
    <message>
        <source>A<byte value="xd"/>
B %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Old</source>
        <translation type="vanished">Старый</translation>
    </message>
</context>
</TS>
)";
    QString language;
    const std::vector<Message> messages = ReadMessages(ts, language);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].context, "TForm6");
    EXPECT_EQ(messages[0].source, "A\r\nB %1");
    EXPECT_EQ(messages[0].type, "unfinished");
    EXPECT_EQ(messages[0].translation, "");
    EXPECT_EQ(Placeholders(messages[0].source), QStringList{"%1"});
    EXPECT_EQ(messages[1].type, "vanished");
    EXPECT_EQ(messages[1].translation, "Старый");
}

}  // namespace
