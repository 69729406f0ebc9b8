#include "gui/instruction_text.h"

#include <QStringList>
#include <iterator>

namespace {

// UTF-8. Items are indented by four spaces, their continuation lines by eight.
// The Russian half keeps the line breaks of the English one.
const char *const kLines[] = {
    // English
    "    The reader is connected to the Converter",
    "    Pellow Guard / Pellow USB:",
    "",
    "    1. The green wire of the reader (DATA 0) is connected",
    "        to terminal \"A\" of the converter.",
    "",
    "    2. The white wire of the reader (DATA 1) is connected",
    "        to terminal \"B\" of the converter.",
    "",
    "    3. The black wire of the reader (GND) is connected",
    "        to terminal \"G\" of the converter and to the minus",
    "        of the power supply.",
    "",
    "    4. The red wire of the reader is connected to +12 V",
    "        of the power supply.",
    "",
    "    Management program:",
    "",
    "    1. Press \"Open\" and choose the COM port",
    "        of the converter, then confirm the choice",
    "        with \"OK\".",
    "",
    "    2. Switch on the power of the reader and wait until",
    "        the \"Firmware\" and \"Loader\" fields show its",
    "        current versions.",
    "",
    "    3. Press \"Specify the firmware file\" and choose the",
    "        firmware file. The date and time of its creation",
    "        are shown under \"Firmware file description\".",
    "",
    "    4. Press \"Load program\" and wait until the update",
    "        is finished.",
    "",
    "    5. If a yellow icon with an exclamation mark",
    "        appears, an error has occurred.",
    "        To find out which error it was, press",
    "        the button with the yellow icon.",
    "",
    "    6. \"History...\" (or Ctrl+H) opens the reader's job journal.",
    "",
    "----------------------------------------------------------------",
    "",
    // Russian
    "    Подключение считывателя к конвертору",
    "    Pellow Guard / Pellow USB:",
    "",
    "    1. Зеленый провод считывателя (DATA 0) подключается",
    "        к клемме \"A\" конвертора.",
    "",
    "    2. Белый провод считывателя (DATA 1) подключается",
    "        к клемме \"B\" конвертора.",
    "",
    "    3. Черный провод считывателя (GND) подключается",
    "        к клемме \"G\" конвертора и к минусу",
    "        источника питания.",
    "",
    "    4. Красный провод считывателя подключается к +12 В",
    "        источника питания.",
    "",
    "    Программа управления:",
    "",
    "    1. Нажмите \"Open\" и выберите COM-порт",
    "        конвертора, затем подтвердите выбор",
    "        кнопкой \"OK\".",
    "",
    "    2. Включите питание считывателя и дождитесь, пока",
    "        в полях \"Firmware\" и \"Loader\" появятся его",
    "        текущие версии.",
    "",
    "    3. Нажмите \"Specify the firmware file\" и выберите",
    "        файл прошивки. Дата и время его создания",
    "        показаны в поле \"Firmware file description\".",
    "",
    "    4. Нажмите \"Load program\" и дождитесь окончания",
    "        обновления.",
    "",
    "    5. Если появился желтый значок с восклицательным",
    "        знаком, значит произошла ошибка.",
    "        Чтобы узнать, какая именно ошибка, нажмите",
    "        кнопку с желтым значком.",
    "",
    "    6. \"History...\" (или Ctrl+H) открывает журнал работ считывателя.",
    "",
};

static_assert(std::size(kLines) == kInstructionLineCount, "the instruction has 82 lines");

// Each half, then the line of hyphens and an empty line between them.
constexpr int kHalfLines = (kInstructionLineCount - 2) / 2;

QStringList Lines(int first, int count)
{
    QStringList lines;
    for (int i = first; i < first + count; ++i)
        lines << QString::fromUtf8(kLines[i]);
    return lines;
}

}  // namespace

QString InstructionText(const QLocale &locale)
{
    const QStringList english = Lines(0, kHalfLines);
    const QStringList between = Lines(kHalfLines, 2);
    const QStringList russian = Lines(kHalfLines + 2, kHalfLines);
    const bool russianFirst = locale.language() == QLocale::Russian;
    return ((russianFirst ? russian : english) + between + (russianFirst ? english : russian)).join(QLatin1Char('\n'));
}
