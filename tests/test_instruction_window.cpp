// The instruction window: its fixed text, one window however often it is
// opened, and printing through the printer set-up.

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QKeyEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include "ui_instruction_window.h"
#include "gui/instruction_text.h"
#include "gui/instruction_window.h"

namespace {

// Lines are what the editor shows: the text split at "\n". The text ends with
// "\n", so the empty line after the second half's last item is the 82nd.
QStringList Lines(const TForm4 &form)
{
    return form.ui->RichEdit1->toPlainText().split(QLatin1Char('\n'));
}

const int kHyphenLine = 40;
const int kRussianStart = 42;

bool IsAscii(const QString &line)
{
    for (QChar c : line)
        if (c.unicode() > 0x7E || c.unicode() < 0x20)
            return false;
    return true;
}

bool HasCyrillic(const QString &line)
{
    for (QChar c : line)
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
            return true;
    return false;
}

// "1." for the first line of item 1, empty for any other line.
QString ItemNumber(const QString &line)
{
    static const QRegularExpression item(QStringLiteral("^    (\\d\\.) "));
    return item.match(line).captured(1);
}

int Indent(const QString &line)
{
    int n = 0;
    while (n < line.size() && line[n] == QLatin1Char(' '))
        ++n;
    return n;
}

// The document title as Qt's PDF writer stores it: UTF-16BE with a byte order mark.
QByteArray PdfTitle(const QString &title)
{
    QByteArray bytes("/Title (\xFE\xFF", 10);
    for (QChar c : title) {
        bytes.append(char(c.unicode() >> 8));
        bytes.append(char(c.unicode() & 0xFF));
    }
    return bytes + ')';
}

class InstructionWindowTest : public ::testing::Test {
protected:
    // The English half first, whatever the machine's language.
    static void SetUpTestSuite() { QLocale::setDefault(QLocale(QLocale::English)); }

    QWidget mainWindow;
    TForm4 form{&mainWindow};
    QTemporaryDir dir;

    void TearDown() override { TForm4::SetPrinterSetupForTests({}); }

    QString PdfPath() const { return dir.filePath(QStringLiteral("instruction.pdf")); }
};

TEST_F(InstructionWindowTest, ShowsEightyTwoLines)
{
    EXPECT_EQ(form.ui->RichEdit1->blockCount(), kInstructionLineCount);
    const QStringList lines = Lines(form);
    ASSERT_EQ(lines.size(), 82);
    EXPECT_TRUE(lines.last().isEmpty());
    EXPECT_EQ(form.ui->RichEdit1->toPlainText(), InstructionText());
}

TEST_F(InstructionWindowTest, EnglishHalfThenHyphensThenRussianHalf)
{
    const QStringList lines = Lines(form);
    ASSERT_EQ(lines.size(), 82);
    EXPECT_EQ(lines[0], "    The reader is connected to the Converter");
    EXPECT_EQ(lines[1], "    Pellow Guard / Pellow USB:");
    for (int i = 0; i < kHyphenLine; ++i)
        EXPECT_TRUE(IsAscii(lines[i])) << "line " << i << " is not plain English";
    EXPECT_TRUE(lines.mid(0, kHyphenLine).contains("    Management program:"));

    EXPECT_EQ(lines[kHyphenLine], QString(64, QLatin1Char('-')));
    EXPECT_EQ(lines.filter(QRegularExpression("^-+$")).size(), 1);
    EXPECT_TRUE(lines[kHyphenLine + 1].isEmpty());

    EXPECT_EQ(lines[kRussianStart], QString::fromUtf8("    Подключение считывателя к конвертору"));
    EXPECT_EQ(lines[78], QString::fromUtf8("        кнопку с желтым значком."));
    EXPECT_TRUE(lines[81].isEmpty());
}

// In Russian the Russian half comes first; the text is the same, half for half.
TEST(InstructionText, TheUsersLanguageComesFirst)
{
    const QStringList english = InstructionText(QLocale(QLocale::English)).split(QLatin1Char('\n'));
    const QStringList russian = InstructionText(QLocale(QLocale::Russian, QLocale::Russia)).split(QLatin1Char('\n'));
    ASSERT_EQ(english.size(), kInstructionLineCount);
    ASSERT_EQ(russian.size(), kInstructionLineCount);
    EXPECT_EQ(russian[0], QString::fromUtf8("    Подключение считывателя к конвертору"));
    EXPECT_EQ(russian.mid(0, kHyphenLine), english.mid(kRussianStart));
    EXPECT_EQ(russian.mid(kHyphenLine, 2), english.mid(kHyphenLine, 2));
    EXPECT_EQ(russian.mid(kRussianStart), english.mid(0, kHyphenLine));

    // The window shows the half of the language it comes up in.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QWidget mainWindow;
    TForm4 form(&mainWindow);
    QLocale::setDefault(before);
    EXPECT_EQ(form.ui->RichEdit1->toPlainText(), InstructionText(QLocale(QLocale::Russian, QLocale::Russia)));
}

TEST_F(InstructionWindowTest, RussianHalfFollowsTheEnglishLineForLine)
{
    const QStringList lines = Lines(form);
    ASSERT_EQ(lines.size(), 82);
    const int halfLength = kHyphenLine;
    ASSERT_EQ(kRussianStart + halfLength, 82);
    int cyrillicLines = 0;
    for (int i = 0; i < halfLength; ++i) {
        const QString &english = lines[i];
        const QString &russian = lines[kRussianStart + i];
        EXPECT_EQ(english.isEmpty(), russian.isEmpty()) << "line " << i;
        EXPECT_EQ(Indent(english), Indent(russian)) << "line " << i;
        EXPECT_EQ(ItemNumber(english), ItemNumber(russian)) << "line " << i;
        if (HasCyrillic(russian))
            ++cyrillicLines;
    }
    EXPECT_GT(cyrillicLines, halfLength / 2);
}

TEST_F(InstructionWindowTest, LinesAreIndentedByFourOrEight)
{
    const QStringList lines = Lines(form);
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty() || i == kHyphenLine)
            continue;
        const int indent = Indent(lines[i]);
        EXPECT_TRUE(indent == 4 || indent == 8) << "line " << i << " indented by " << indent;
        // Numbered items start at four; eight is for their continuation.
        if (lines[i].at(indent).isDigit()) {
            EXPECT_EQ(indent, 4) << "line " << i;
        }
    }
}

TEST_F(InstructionWindowTest, WiringAndStepsAreNamed)
{
    const QString text = InstructionText();
    for (const char *needle : {"(DATA 0)", "\"A\"", "(DATA 1)", "\"B\"", "(GND)", "\"G\"", "+12",
                               "\"Open\"", "\"OK\"", "\"Firmware\"", "\"Loader\"",
                               "\"Specify the firmware file\"", "\"Firmware file description\"",
                               "\"Load program\"", "\"History...\"", "Ctrl+H"})
        EXPECT_EQ(text.count(QString::fromUtf8(needle)), 2) << needle << " in both halves";
}

TEST_F(InstructionWindowTest, TextIsReadOnly)
{
    EXPECT_TRUE(form.ui->RichEdit1->isReadOnly());
    form.ui->RichEdit1->moveCursor(QTextCursor::End);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(form.ui->RichEdit1, &press);
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    form.ui->RichEdit1->moveCursor(QTextCursor::Start);
    QApplication::sendEvent(form.ui->RichEdit1, &backspace);
    EXPECT_EQ(form.ui->RichEdit1->toPlainText(), InstructionText());
}

TEST_F(InstructionWindowTest, ToolWindowOfTheDesignSize)
{
    EXPECT_EQ(form.windowTitle(), "Instruction");
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(form.size(), QSize(606, 416));
    EXPECT_EQ(form.ui->Button1->text(), "Close");
    EXPECT_FALSE(form.ui->SpeedButton1->icon().pixmap(32, 32).isNull());
    // Design pixel sizes, and the fixed-pitch face for the text.
    EXPECT_EQ(form.ui->RichEdit1->font().pixelSize(), 11);
    EXPECT_TRUE(QFontInfo(form.ui->RichEdit1->font()).fixedPitch());
}

TEST_F(InstructionWindowTest, OpenedTwiceIsOneModelessWindowCentredOnTheMainWindow)
{
    mainWindow.setGeometry(100, 80, 900, 700);
    mainWindow.show();
    form.show();
    form.raise();
    form.show();
    form.raise();

    int shown = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<TForm4 *>(widget) && widget->isVisible())
            ++shown;
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(form.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(form.frameGeometry().center(), mainWindow.frameGeometry().center());

    form.ui->Button1->click();
    EXPECT_FALSE(form.isVisible());
    form.show();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(InstructionWindowTest, ConfirmedSetupPrintsOneJobNamedInstruction)
{
    int dialogs = 0;
    TForm4::SetPrinterSetupForTests([&](QPrinter &printer, QWidget *parent) {
        ++dialogs;
        EXPECT_EQ(parent, &form);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(PdfPath());
        return true;
    });
    form.ui->SpeedButton1->click();

    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(form.Printer1().docName(), "Instruction");
    QFile pdf(PdfPath());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    const QByteArray bytes = pdf.readAll();
    ASSERT_FALSE(bytes.isEmpty());
    EXPECT_TRUE(bytes.startsWith("%PDF"));
    // One document: one end marker, titled with the job name.
    EXPECT_EQ(bytes.count("%%EOF"), 1);
    EXPECT_TRUE(bytes.contains(PdfTitle("Instruction")));
    EXPECT_GE(bytes.count("/Type /Page\n"), 1);
}

TEST_F(InstructionWindowTest, CancelledSetupPrintsNothing)
{
    int dialogs = 0;
    TForm4::SetPrinterSetupForTests([&](QPrinter &printer, QWidget *) {
        ++dialogs;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(PdfPath());
        return false;
    });
    form.SpeedButton1Click();

    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(QFile::exists(PdfPath()));
    EXPECT_NE(form.Printer1().docName(), "Instruction");
}

}  // namespace
