<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CliCommon</name>
    <message>
        <source>you may not open %1: only members of the group %2 may (sudo usermod -aG %2 $USER, then log in again)</source>
        <translation>вам нельзя открыть %1: это могут только члены группы %2 (sudo usermod -aG %2 $USER, затем войдите в систему заново)</translation>
    </message>
    <message>
        <source>you may not open %1, and no group of users may read and write it; the tool&apos;s device rule gives USB serial converters to the group %2 (%3 &amp;&amp; %4, plug the converter in again, then sudo usermod -aG %2 $USER and log in again)</source>
        <translation>вам нельзя открыть %1, и ни одна группа пользователей не может читать и писать его; правило устройств программы отдаёт USB-преобразователи группе %2 (%3 &amp;&amp; %4, подключите преобразователь заново, затем sudo usermod -aG %2 $USER и войдите в систему заново)</translation>
    </message>
    <message>
        <source>you may not open %1: ask the administrator for access to it</source>
        <translation>вам нельзя открыть %1: попросите доступ к нему у администратора</translation>
    </message>
    <message>
        <source>Where the job is done, for its journal entry.</source>
        <translation>Где выполняется работа, для записи в журнале.</translation>
    </message>
    <message>
        <source>For whom, for its journal entry.</source>
        <translation>Для кого, для записи в журнале.</translation>
    </message>
    <message>
        <source>A word on the job, for its journal entry.</source>
        <translation>Примечание к работе, для записи в журнале.</translation>
    </message>
    <message>
        <source>talvor-cli %1: %2 See --help.</source>
        <translation>talvor-cli %1: %2 См. --help.</translation>
    </message>
    <message>
        <source>Usage: %1 %2</source>
        <translation>Использование: %1 %2</translation>
    </message>
    <message>
        <source>talvor-cli %1: expected %2. See --help.</source>
        <translation>talvor-cli %1: ожидается %2. См. --help.</translation>
    </message>
    <message>
        <source>talvor-cli %1: --time-scale takes a factor above 0, at most 1.</source>
        <translation>talvor-cli %1: --time-scale принимает множитель больше 0, не больше 1.</translation>
    </message>
    <message>
        <source>talvor-cli %1: --patience takes a factor from 1 to 20.</source>
        <translation>talvor-cli %1: --patience принимает множитель от 1 до 20.</translation>
    </message>
    <message>
        <source>talvor-cli: the journal entry: </source>
        <translation>talvor-cli: запись журнала: </translation>
    </message>
    <message>
        <source>%1: the port&apos;s lock cannot be made: %2</source>
        <translation>%1: не удаётся создать блокировку порта: %2</translation>
    </message>
    <message>
        <source>%1 is not there: the converter may be unplugged</source>
        <translation>%1 отсутствует: возможно, преобразователь отключён</translation>
    </message>
    <message>
        <source>the port name is longer than %1 characters</source>
        <translation>имя порта длиннее %1 символов</translation>
    </message>
    <message>
        <source>the far port is in use by another connection</source>
        <translation>удалённый порт занят другим соединением</translation>
    </message>
    <message>
        <source>another program holds it</source>
        <translation>его занимает другая программа</translation>
    </message>
    <message>
        <source>%1 does not lead to a serial port</source>
        <translation>%1 не ведёт к последовательному порту</translation>
    </message>
    <message>
        <source>the host %1 is not found: check its name</source>
        <translation>узел %1 не найден: проверьте его имя</translation>
    </message>
    <message>
        <source>%1 refused the connection: nothing takes connections on its port %2 (is the device server or ser2net running, and is it the right port?)</source>
        <translation>%1 отклонил соединение: на его порту %2 никто не принимает соединения (запущен ли сервер устройств или ser2net, и тот ли это порт?)</translation>
    </message>
    <message>
        <source>the far end refused the reader&apos;s line settings (19200 baud, 8 data bits, no parity, 1 stop bit)</source>
        <translation>удалённая сторона отклонила параметры линии считывателя (19200 бод, 8 бит данных, без чётности, 1 стоп-бит)</translation>
    </message>
    <message>
        <source>%1 could not be opened</source>
        <translation>не удалось открыть %1</translation>
    </message>
    <message>
        <source>Folder of the virtual ports (default $TALVOR_PORT_FOLDER or /tmp/talvor-ports).</source>
        <translation>Папка виртуальных портов (по умолчанию $TALVOR_PORT_FOLDER или /tmp/talvor-ports).</translation>
    </message>
    <message>
        <source>For network ports (rfc2217://HOST:PORT, tcp://HOST:PORT): the reader&apos;s time-outs times this factor, 1 to 20 (default 1 on this machine, 3 across the network).</source>
        <translation>Для сетевых портов (rfc2217://HOST:PORT, tcp://HOST:PORT): тайм-ауты считывателя, умноженные на этот множитель, от 1 до 20 (по умолчанию 1 на этой машине, 3 через сеть).</translation>
    </message>
    <message>
        <source>The service journal&apos;s SQLite file (default $TALVOR_JOURNAL_DATABASE, Database= in com.ini, or ~/.local/share/talvor/journal.db).</source>
        <translation>Файл SQLite сервисного журнала (по умолчанию $TALVOR_JOURNAL_DATABASE, Database= в com.ini или ~/.local/share/talvor/journal.db).</translation>
    </message>
    <message>
        <source>The team&apos;s journal server, a PostgreSQL connection string (default Server= in com.ini).</source>
        <translation>Сервер журнала группы, строка подключения PostgreSQL (по умолчанию Server= в com.ini).</translation>
    </message>
    <message>
        <source>Show this help and end.</source>
        <translation>Показать эту справку и завершить работу.</translation>
    </message>
</context>
<context>
    <name>CliConfig</name>
    <message>
        <source>Shows the technician&apos;s preferences, or sets one: technician, the name the
journal and the service report give each job (&quot;&quot; clears it: user on host);
logo, an image for the report&apos;s head (&quot;&quot; clears it). Kept in com.ini,
shared with the window.</source>
        <translation>Показывает настройки техника или задаёт одну из них: technician, имя, которое
журнал и сервисный отчёт дают каждой работе (&quot;&quot; очищает его: пользователь на узле);
logo, изображение для шапки отчёта (&quot;&quot; очищает его). Хранятся в com.ini,
общем с окном программы.</translation>
    </message>
    <message>
        <source>(not set)</source>
        <translation>(не задано)</translation>
    </message>
    <message>
        <source>give technician NAME or logo FILE, or nothing to see them. See --help.</source>
        <translation>укажите technician ИМЯ или logo ФАЙЛ либо ничего, чтобы увидеть их. См. --help.</translation>
    </message>
    <message>
        <source>%1 is not a readable file.</source>
        <translation>%1 не является читаемым файлом.</translation>
    </message>
    <message>
        <source>cannot write %1.</source>
        <translation>не удаётся записать %1.</translation>
    </message>
</context>
<context>
    <name>CliJournal</name>
    <message>
        <source>unfinished</source>
        <translation>не завершено</translation>
    </message>
    <message>
        <source>No journal entries.</source>
        <translation>В журнале нет записей.</translation>
    </message>
    <message>
        <source>ENTRY</source>
        <translation>ЗАПИСЬ</translation>
    </message>
    <message>
        <source>STARTED (UTC)</source>
        <translation>НАЧАЛО (UTC)</translation>
    </message>
    <message>
        <source>KIND</source>
        <translation>ВИД</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>ПОРТ</translation>
    </message>
    <message>
        <source>SERIAL</source>
        <translation>НОМЕР</translation>
    </message>
    <message>
        <source>FIRMWARE</source>
        <translation>ПРОШИВКА</translation>
    </message>
    <message>
        <source>RESULT</source>
        <translation>РЕЗУЛЬТАТ</translation>
    </message>
    <message>
        <source>entry</source>
        <translation>запись</translation>
    </message>
    <message>
        <source>kind</source>
        <translation>вид</translation>
    </message>
    <message>
        <source>result</source>
        <translation>результат</translation>
    </message>
    <message>
        <source>started</source>
        <translation>начало</translation>
    </message>
    <message>
        <source>ended</source>
        <translation>конец</translation>
    </message>
    <message>
        <source>duration</source>
        <translation>длительность</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 с</translation>
    </message>
    <message>
        <source>technician</source>
        <translation>техник</translation>
    </message>
    <message>
        <source>site</source>
        <translation>объект</translation>
    </message>
    <message>
        <source>customer</source>
        <translation>заказчик</translation>
    </message>
    <message>
        <source>note</source>
        <translation>примечание</translation>
    </message>
    <message>
        <source>host</source>
        <translation>узел</translation>
    </message>
    <message>
        <source>user</source>
        <translation>пользователь</translation>
    </message>
    <message>
        <source>tool version</source>
        <translation>версия программы</translation>
    </message>
    <message>
        <source>port</source>
        <translation>порт</translation>
    </message>
    <message>
        <source>converter serial</source>
        <translation>номер преобразователя</translation>
    </message>
    <message>
        <source>reader serial</source>
        <translation>номер считывателя</translation>
    </message>
    <message>
        <source>boot loader</source>
        <translation>загрузчик</translation>
    </message>
    <message>
        <source>firmware</source>
        <translation>прошивка</translation>
    </message>
    <message>
        <source>image</source>
        <translation>образ</translation>
    </message>
    <message>
        <source>image size</source>
        <translation>размер образа</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 байт</translation>
    </message>
    <message>
        <source>image SHA-256</source>
        <translation>SHA-256 образа</translation>
    </message>
    <message>
        <source>image text</source>
        <translation>текст образа</translation>
    </message>
    <message>
        <source>blocks</source>
        <translation>блоки</translation>
    </message>
    <message>
        <source>boot attempts</source>
        <translation>попытки входа в загрузчик</translation>
    </message>
    <message>
        <source>settings before</source>
        <translation>настройки до</translation>
    </message>
    <message>
        <source>settings after</source>
        <translation>настройки после</translation>
    </message>
    <message>
        <source>changed fields</source>
        <translation>изменённые поля</translation>
    </message>
    <message>
        <source>reader said</source>
        <translation>ответ считывателя</translation>
    </message>
    <message>
        <source>One journal entry, everything it holds. ENTRY is the entry&apos;s id or a unique
start of it (`talvor-cli journal` shows them).</source>
        <translation>Одна запись журнала со всем, что в ней есть. ENTRY — идентификатор записи или его
однозначное начало (их показывает `talvor-cli journal`).</translation>
    </message>
    <message>
        <source>The entry&apos;s JSON object.</source>
        <translation>JSON-объект записи.</translation>
    </message>
    <message>
        <source>The service journal&apos;s entries, newest first: every firmware update, settings
write and settings read, from the window and the command line.
`talvor-cli journal show ENTRY` shows one entry whole.</source>
        <translation>Записи сервисного журнала, новые сначала: каждое обновление прошивки, запись
и чтение настроек, из окна программы и из командной строки.
`talvor-cli journal show ENTRY` показывает одну запись целиком.</translation>
    </message>
    <message>
        <source>Only the reader with this serial number.</source>
        <translation>Только считыватель с этим серийным номером.</translation>
    </message>
    <message>
        <source>Only jobs on this port.</source>
        <translation>Только работы на этом порту.</translation>
    </message>
    <message>
        <source>Only jobs started at or after this day (YYYY-MM-DD) or ISO date-time (local time unless it names its zone).</source>
        <translation>Только работы, начатые в этот день (YYYY-MM-DD) или момент ISO или позже (местное время, если пояс не указан).</translation>
    </message>
    <message>
        <source>Only jobs started before this ISO date-time, or up to the end of this day (YYYY-MM-DD).</source>
        <translation>Только работы, начатые до этого момента ISO или до конца этого дня (YYYY-MM-DD).</translation>
    </message>
    <message>
        <source>Only jobs of this kind: update, settings_write or settings_read.</source>
        <translation>Только работы этого вида: update, settings_write или settings_read.</translation>
    </message>
    <message>
        <source>Only jobs that ended so: succeeded, failed (finished and failed) or unfinished (cut short, or still running).</source>
        <translation>Только работы с таким исходом: succeeded (успешно), failed (завершена с ошибкой) или unfinished (прервана или ещё идёт).</translation>
    </message>
    <message>
        <source>Only the newest N entries.</source>
        <translation>Только N самых новых записей.</translation>
    </message>
    <message>
        <source>Only jobs that failed or were cut short.</source>
        <translation>Только работы с ошибкой или прерванные.</translation>
    </message>
    <message>
        <source>One JSON array of the entries.</source>
        <translation>Один JSON-массив записей.</translation>
    </message>
    <message>
        <source>CSV: a header line and one row per entry.</source>
        <translation>CSV: строка заголовка и по строке на запись.</translation>
    </message>
    <message>
        <source>List from the journal server instead of the local file.</source>
        <translation>Читать с сервера журнала вместо локального файла.</translation>
    </message>
    <message>
        <source>--serial takes a number from 0 to 65535.</source>
        <translation>--serial принимает число от 0 до 65535.</translation>
    </message>
    <message>
        <source>--since takes YYYY-MM-DD or an ISO date-time (2026-12-08T10:00:00).</source>
        <translation>--since принимает YYYY-MM-DD или дату и время ISO (2026-12-08T10:00:00).</translation>
    </message>
    <message>
        <source>--until takes YYYY-MM-DD or an ISO date-time (2026-12-08T10:00:00).</source>
        <translation>--until принимает YYYY-MM-DD или дату и время ISO (2026-12-08T10:00:00).</translation>
    </message>
    <message>
        <source>--kind takes update, settings_write or settings_read.</source>
        <translation>--kind принимает update, settings_write или settings_read.</translation>
    </message>
    <message>
        <source>--result takes succeeded, failed or unfinished.</source>
        <translation>--result принимает succeeded, failed или unfinished.</translation>
    </message>
    <message>
        <source>--limit takes a number of entries, 1 or more.</source>
        <translation>--limit принимает число записей, 1 или больше.</translation>
    </message>
    <message>
        <source>give --json or --csv, not both.</source>
        <translation>укажите --json или --csv, но не оба.</translation>
    </message>
    <message>
        <source>Writes the one-page service report of a journal entry as a PDF, through
talvor-report. ENTRY is the entry&apos;s id or a unique start of it (`talvor-cli journal`
shows them).</source>
        <translation>Записывает одностраничный сервисный отчёт о записи журнала в PDF с помощью
talvor-report. ENTRY — идентификатор записи или его однозначное начало (их показывает
`talvor-cli journal`).</translation>
    </message>
    <message>
        <source>The PDF to write.</source>
        <translation>Записываемый PDF.</translation>
    </message>
    <message>
        <source>talvor-cli report: give -o FILE.pdf. See --help.</source>
        <translation>talvor-cli report: укажите -o ФАЙЛ.pdf. См. --help.</translation>
    </message>
    <message>
        <source>talvor-cli report: talvor-report is neither beside talvor-cli nor on the PATH.</source>
        <translation>talvor-cli report: talvor-report нет ни рядом с talvor-cli, ни в PATH.</translation>
    </message>
    <message>
        <source>no journal server is named (--journal, or Server= in section [Journal] of com.ini).</source>
        <translation>сервер журнала не указан (--journal или Server= в разделе [Journal] файла com.ini).</translation>
    </message>
    <message>
        <source>An image for the head of the page (default: Logo= in [Report]).</source>
        <translation>Изображение для заголовка страницы (по умолчанию: Logo= в разделе [Report]).</translation>
    </message>
</context>
<context>
    <name>CliMain</name>
    <message>
        <source>Usage: talvor-cli [-h|--help] [-v|--version] COMMAND [options]
The TALVOR IV service tool for scripts and production lines.

Commands (each has its own --help):
  ports [--json]                          serial ports, their converters and holders
  info -p PORT [--wait SECONDS] [--json]  what the reader says about itself
  update -p PORT [-p PORT ...] IMAGE [--json]
                                          firmware update, all readers at once
  update --station IMAGE [--json]         update each reader whose port appears
  settings get -p PORT [-o FILE] [--json] the settings as named fields
  settings set -p PORT (FILE | NAME=VALUE ...)
                                          write settings, read them back
  settings diff -p PORT FILE              what differs between reader and file
  journal [--serial N] [--port P] [--since DATE] [--until DATE] [--kind KIND]
          [--result RESULT] [--limit N] [--failed] [--json | --csv] [--server]
                                          the service journal, newest first
  journal show ENTRY [--json]             one entry, everything it holds
  report ENTRY -o FILE.pdf                an entry&apos;s service report
  config [technician NAME | logo FILE]    the technician&apos;s preferences

Options of every command that opens a port:
  --port-folder DIR   folder of the virtual ports (default $TALVOR_PORT_FOLDER
                      or /tmp/talvor-ports)
Options of update and settings:
  --site TEXT, --customer TEXT, --note TEXT
                      where, for whom, and a word on the job, for its journal entry
Options of update, settings, journal and report:
  --database FILE     the service journal&apos;s SQLite file (default
                      $TALVOR_JOURNAL_DATABASE, Database= in com.ini, or
                      ~/.local/share/talvor/journal.db)
  --journal CONNECTION  the team&apos;s journal server, a PostgreSQL connection
                      string (default Server= in com.ini)

Exit status: 0 success, 1 settings differ or not taken, 2 bad arguments,
3 image invalid, 4 port not opened, 5 no answer or no boot loader,
6 reader error, 7 interrupted, 8 journal not readable, talvor-report
not run or com.ini not written; report passes on talvor-report&apos;s status.
</source>
        <translation>Использование: talvor-cli [-h|--help] [-v|--version] КОМАНДА [параметры]
Сервисная программа TALVOR IV для сценариев и производственных линий.

Команды (у каждой своя справка --help):
  ports [--json]                          последовательные порты, их преобразователи и владельцы
  info -p PORT [--wait SECONDS] [--json]  что считыватель сообщает о себе
  update -p PORT [-p PORT ...] IMAGE [--json]
                                          обновление прошивки, всех считывателей сразу
  update --station IMAGE [--json]         обновлять каждый считыватель, чей порт появляется
  settings get -p PORT [-o FILE] [--json] настройки в виде именованных полей
  settings set -p PORT (FILE | NAME=VALUE ...)
                                          записать настройки и прочитать их обратно
  settings diff -p PORT FILE              чем считыватель отличается от файла
  journal [--serial N] [--port P] [--since DATE] [--until DATE] [--kind KIND]
          [--result RESULT] [--limit N] [--failed] [--json | --csv] [--server]
                                          сервисный журнал, новые записи сначала
  journal show ENTRY [--json]             одна запись со всем, что в ней есть
  report ENTRY -o FILE.pdf                сервисный отчёт о записи
  config [technician NAME | logo FILE]    настройки техника

Параметры каждой команды, открывающей порт:
  --port-folder DIR   папка виртуальных портов (по умолчанию $TALVOR_PORT_FOLDER
                      или /tmp/talvor-ports)
Параметры update и settings:
  --site TEXT, --customer TEXT, --note TEXT
                      где, для кого и примечание к работе, для записи в журнале
Параметры update, settings, journal и report:
  --database FILE     файл SQLite сервисного журнала (по умолчанию
                      $TALVOR_JOURNAL_DATABASE, Database= в com.ini или
                      ~/.local/share/talvor/journal.db)
  --journal CONNECTION  сервер журнала группы, строка подключения
                      PostgreSQL (по умолчанию Server= в com.ini)

Коды завершения: 0 успех, 1 настройки отличаются или не приняты, 2 неверные
аргументы, 3 неверный образ, 4 порт не открыт, 5 нет ответа или загрузчика,
6 ошибка считывателя, 7 прервано, 8 журнал не читается, talvor-report не
запущен или com.ini не записан; report передаёт код talvor-report.
</translation>
    </message>
    <message>
        <source>give a command. See talvor-cli --help.</source>
        <translation>укажите команду. См. talvor-cli --help.</translation>
    </message>
    <message>
        <source>unknown command %1. See talvor-cli --help.</source>
        <translation>неизвестная команда %1. См. talvor-cli --help.</translation>
    </message>
</context>
<context>
    <name>CliReader</name>
    <message>
        <source>Every serial port the tool would list, system and virtual: name, device, USB
converter ids, and the other programs that hold it.</source>
        <translation>Все последовательные порты, которые показала бы программа, системные и виртуальные: имя,
устройство, идентификаторы USB-преобразователя и другие программы, занимающие порт.</translation>
    </message>
    <message>
        <source>One JSON array on standard output.</source>
        <translation>Один JSON-массив на стандартный вывод.</translation>
    </message>
    <message>
        <source> (serial number %1)</source>
        <translation> (серийный номер %1)</translation>
    </message>
    <message>
        <source>  held: </source>
        <translation>  занят: </translation>
    </message>
    <message>
        <source>Asks the reader on PORT as the window&apos;s monitor does: its state, boot loader
and firmware versions and serial number.</source>
        <translation>Опрашивает считыватель на порту PORT, как монитор окна программы: его состояние,
версии загрузчика и прошивки и серийный номер.</translation>
    </message>
    <message>
        <source>Port name or device path.</source>
        <translation>Имя порта или путь к устройству.</translation>
    </message>
    <message>
        <source>Wait this long for an answer (default 3).</source>
        <translation>Ждать ответа столько секунд (по умолчанию 3).</translation>
    </message>
    <message>
        <source>One JSON object on standard output.</source>
        <translation>Один JSON-объект на стандартный вывод.</translation>
    </message>
    <message>
        <source>talvor-cli info: give one -p PORT and --wait from 0 to 3600 seconds.</source>
        <translation>talvor-cli info: укажите один -p ПОРТ и --wait от 0 до 3600 секунд.</translation>
    </message>
    <message>
        <source>boot loader    %1</source>
        <translation>загрузчик      %1</translation>
    </message>
    <message>
        <source>firmware       %1</source>
        <translation>прошивка       %1</translation>
    </message>
    <message>
        <source>serial number  %1</source>
        <translation>серийный номер %1</translation>
    </message>
</context>
<context>
    <name>CliSettings</name>
    <message>
        <source>the reader answered the settings write with a bad checksum</source>
        <translation>считыватель ответил на запись настроек с неверной контрольной суммой</translation>
    </message>
    <message>
        <source>the reader answered the settings request with a bad checksum</source>
        <translation>считыватель ответил на запрос настроек с неверной контрольной суммой</translation>
    </message>
    <message>
        <source>the reader answered the settings write with part of a reply</source>
        <translation>считыватель ответил на запись настроек лишь частью ответа</translation>
    </message>
    <message>
        <source>the reader answered the settings request with part of a reply</source>
        <translation>считыватель ответил на запрос настроек лишь частью ответа</translation>
    </message>
    <message>
        <source>the port vanished during the settings write</source>
        <translation>порт пропал во время записи настроек</translation>
    </message>
    <message>
        <source>the port vanished during the settings request</source>
        <translation>порт пропал во время запроса настроек</translation>
    </message>
    <message>
        <source>the connection dropped during the settings write</source>
        <translation>соединение оборвалось во время записи настроек</translation>
    </message>
    <message>
        <source>the connection dropped during the settings request</source>
        <translation>соединение оборвалось во время запроса настроек</translation>
    </message>
    <message>
        <source>the reader did not answer the settings write</source>
        <translation>считыватель не ответил на запись настроек</translation>
    </message>
    <message>
        <source>the reader did not answer the settings request</source>
        <translation>считыватель не ответил на запрос настроек</translation>
    </message>
    <message>
        <source>talvor-cli settings %1: %2</source>
        <translation>talvor-cli settings %1: %2</translation>
    </message>
    <message>
        <source>allowed: %1</source>
        <translation>допустимо: %1</translation>
    </message>
    <message>
        <source>The device type is taken as &quot;TalvorIV-M ETH&quot; unless device_type=... comes first.</source>
        <translation>Тип устройства считается &quot;TalvorIV-M ETH&quot;, если первым не указан device_type=....</translation>
    </message>
    <message>
        <source>talvor-cli settings %1: cannot read %2: %3</source>
        <translation>talvor-cli settings %1: не удаётся прочитать %2: %3</translation>
    </message>
    <message>
        <source>Port name or device path.</source>
        <translation>Имя порта или путь к устройству.</translation>
    </message>
    <message>
        <source>Write the settings file here.</source>
        <translation>Записать файл настроек сюда.</translation>
    </message>
    <message>
        <source>The settings file&apos;s JSON on standard output.</source>
        <translation>JSON файла настроек на стандартный вывод.</translation>
    </message>
    <message>
        <source>talvor-cli settings %1: give one -p PORT. See --help.</source>
        <translation>talvor-cli settings %1: укажите один -p ПОРТ. См. --help.</translation>
    </message>
    <message>
        <source>Reads the reader&apos;s settings: named fields with their values in words, and the
raw 9 bytes. A value a field does not know is shown as its byte (&quot;0xFF, not a
known value&quot;). -o writes them as a settings file that `settings set` takes.</source>
        <translation>Читает настройки считывателя: именованные поля со значениями словами и исходные
9 байт. Значение, неизвестное полю, показывается своим байтом (&quot;0xFF, not a
known value&quot;). -o записывает их в файл настроек, который принимает `settings set`.</translation>
    </message>
    <message>
        <source>talvor-cli settings get: cannot write %1: %2</source>
        <translation>talvor-cli settings get: не удаётся записать %1: %2</translation>
    </message>
    <message>
        <source>%1: settings written to %2</source>
        <translation>%1: настройки записаны в %2</translation>
    </message>
    <message>
        <source>Writes settings to the reader, from a settings file or as NAME=VALUE words, and
reads them back. A value a field does not allow is refused before anything
is written; the fields that will change are listed first, and nothing is
written when none will. Names and values: `talvor-cli settings get`.</source>
        <translation>Записывает настройки в считыватель из файла настроек или из слов ИМЯ=ЗНАЧЕНИЕ и
читает их обратно. Значение, недопустимое для поля, отклоняется до какой-либо
записи; сначала перечисляются поля, которые изменятся, и ничего не
записывается, если не изменится ни одно. Имена и значения: `talvor-cli settings get`.</translation>
    </message>
    <message>
        <source>%1: nothing was written</source>
        <translation>%1: ничего не записано</translation>
    </message>
    <message>
        <source>%1: the reader holds these settings already; nothing was written</source>
        <translation>%1: в считывателе уже эти настройки; ничего не записано</translation>
    </message>
    <message>
        <source>%1: will change %2: %3 -&gt; %4</source>
        <translation>%1: изменится %2: %3 -&gt; %4</translation>
    </message>
    <message>
        <source>%1: not taken %2: asked %3, the reader holds %4</source>
        <translation>%1: не принято %2: запрошено %3, в считывателе %4</translation>
    </message>
    <message>
        <source>%1: raw %2</source>
        <translation>%1: байты %2</translation>
    </message>
    <message>
        <source>Lists the fields in which the reader&apos;s settings differ from a settings file.
Exit status 0 when none differ, 1 when some do.</source>
        <translation>Перечисляет поля, в которых настройки считывателя отличаются от файла настроек.
Код завершения 0, если отличий нет, 1, если они есть.</translation>
    </message>
    <message>
        <source>%1: reader %2, file %3</source>
        <translation>%1: считыватель %2, файл %3</translation>
    </message>
    <message>
        <source>Usage: talvor-cli settings %1
       talvor-cli settings %2
       talvor-cli settings %3
Each has its own --help.</source>
        <translation>Использование: talvor-cli settings %1
                talvor-cli settings %2
                talvor-cli settings %3
У каждой своя справка --help.</translation>
    </message>
    <message>
        <source>talvor-cli settings: give get, set or diff. See talvor-cli settings --help.</source>
        <translation>talvor-cli settings: укажите get, set или diff. См. talvor-cli settings --help.</translation>
    </message>
</context>
<context>
    <name>CliUpdate</name>
    <message>
        <source>port not opened: </source>
        <translation>порт не открыт: </translation>
    </message>
    <message>
        <source>stopped before the update</source>
        <translation>остановлено до обновления</translation>
    </message>
    <message>
        <source>completed</source>
        <translation>завершено</translation>
    </message>
    <message>
        <source>image refused: </source>
        <translation>образ отклонён: </translation>
    </message>
    <message>
        <source>image not readable: </source>
        <translation>образ не читается: </translation>
    </message>
    <message>
        <source>no boot loader answered</source>
        <translation>загрузчик не ответил</translation>
    </message>
    <message>
        <source>reader error: </source>
        <translation>ошибка считывателя: </translation>
    </message>
    <message>
        <source>no answer during the transfer: </source>
        <translation>нет ответа во время передачи: </translation>
    </message>
    <message>
        <source>stopped before the transfer</source>
        <translation>остановлено до передачи</translation>
    </message>
    <message>
        <source>interrupted during the transfer</source>
        <translation>прервано во время передачи</translation>
    </message>
    <message>
        <source>the port vanished during the transfer</source>
        <translation>порт пропал во время передачи</translation>
    </message>
    <message>
        <source>the port vanished before the boot loader answered</source>
        <translation>порт пропал до ответа загрузчика</translation>
    </message>
    <message>
        <source>the connection dropped during the transfer</source>
        <translation>соединение оборвалось во время передачи</translation>
    </message>
    <message>
        <source>the connection dropped before the boot loader answered</source>
        <translation>соединение оборвалось до ответа загрузчика</translation>
    </message>
    <message>
        <source>not reached</source>
        <translation>не достигнут</translation>
    </message>
    <message>
        <source>left in its boot loader (update it again)</source>
        <translation>остался в загрузчике (обновите его снова)</translation>
    </message>
    <message>
        <source>running its firmware (version not reported)</source>
        <translation>работает на своей прошивке (версия не сообщена)</translation>
    </message>
    <message>
        <source>running firmware </source>
        <translation>работает на прошивке </translation>
    </message>
    <message>
        <source>silent since its update</source>
        <translation>молчит после обновления</translation>
    </message>
    <message>
        <source>opening</source>
        <translation>открытие</translation>
    </message>
    <message>
        <source>asking</source>
        <translation>опрос</translation>
    </message>
    <message>
        <source>waiting (%1)</source>
        <translation>ожидание (%1)</translation>
    </message>
    <message>
        <source>transfer</source>
        <translation>передача</translation>
    </message>
    <message>
        <source>restarting</source>
        <translation>перезапуск</translation>
    </message>
    <message>
        <source>done</source>
        <translation>готово</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>ошибка</translation>
    </message>
    <message>
        <source>%1: the reader does not answer; trying its boot loader</source>
        <translation>%1: считыватель не отвечает; пробуем его загрузчик</translation>
    </message>
    <message>
        <source>%1: reader %2, firmware %3</source>
        <translation>%1: считыватель %2, прошивка %3</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>неизвестна</translation>
    </message>
    <message>
        <source>%1: waiting for the boot loader (%2)</source>
        <translation>%1: ожидание загрузчика (%2)</translation>
    </message>
    <message>
        <source>%1: transfer %2% (%3/%4 blocks)</source>
        <translation>%1: передача %2% (%3/%4 блоков)</translation>
    </message>
    <message>
        <source>PORT</source>
        <translation>ПОРТ</translation>
    </message>
    <message>
        <source>SERIAL</source>
        <translation>НОМЕР</translation>
    </message>
    <message>
        <source>BEFORE</source>
        <translation>ДО</translation>
    </message>
    <message>
        <source>AFTER</source>
        <translation>ПОСЛЕ</translation>
    </message>
    <message>
        <source>SECONDS</source>
        <translation>СЕКУНД</translation>
    </message>
    <message>
        <source>RESULT</source>
        <translation>РЕЗУЛЬТАТ</translation>
    </message>
    <message>
        <source>Each reader as it last answered:</source>
        <translation>Каждый считыватель по его последнему ответу:</translation>
    </message>
    <message>
        <source>Reader on %1</source>
        <translation>Считыватель на %1</translation>
    </message>
    <message>
        <source>Reader %1 on %2</source>
        <translation>Считыватель %1 на %2</translation>
    </message>
    <message>
        <source>Watching for readers (%1, and %2); Ctrl-C ends.</source>
        <translation>Ожидание считывателей (%1 и %2); Ctrl-C завершает.</translation>
    </message>
    <message>
        <source>the port list</source>
        <translation>список портов</translation>
    </message>
    <message>
        <source>%1: appeared, updating</source>
        <translation>%1: появился, обновляем</translation>
    </message>
    <message>
        <source>%1: a reader answers, updating</source>
        <translation>%1: считыватель отвечает, обновляем</translation>
    </message>
    <message>
        <source>%1 succeeded, %2 failed.</source>
        <translation>успешно: %1, с ошибкой: %2.</translation>
    </message>
    <message>
        <source>Loads the program section of IMAGE into the readers on the ports named, all at
once, or with --station into each reader whose port appears, until Ctrl-C.
The image is checked first; an invalid one touches no reader. Each update is kept
in the service journal.</source>
        <translation>Загружает программную секцию образа IMAGE в считыватели на указанных портах, все
сразу, или с --station в каждый считыватель, чей порт появляется, до Ctrl-C.
Сначала проверяется образ; неверный не затрагивает ни одного считывателя. Каждое
обновление сохраняется в сервисном журнале.</translation>
    </message>
    <message>
        <source>Port name or device path; repeat for more readers.</source>
        <translation>Имя порта или путь к устройству; повторите для других считывателей.</translation>
    </message>
    <message>
        <source>Update the reader on each port that appears (a converter plugged in).</source>
        <translation>Обновлять считыватель на каждом появившемся порту (подключённый преобразователь).</translation>
    </message>
    <message>
        <source>One JSON object per event and line.</source>
        <translation>По одному JSON-объекту на событие и строку.</translation>
    </message>
    <message>
        <source>talvor-cli update: give either -p PORT (one or more) or --station (with network ports as -p rfc2217://HOST:PORT, if any). See --help.</source>
        <translation>talvor-cli update: укажите либо -p ПОРТ (один или несколько), либо --station (с сетевыми портами в виде -p rfc2217://HOST:PORT, если есть). См. --help.</translation>
    </message>
    <message>
        <source>talvor-cli update: %1 is named twice.</source>
        <translation>talvor-cli update: %1 указан дважды.</translation>
    </message>
    <message>
        <source>talvor-cli update: the image is not valid: %1</source>
        <translation>talvor-cli update: образ неверен: %1</translation>
    </message>
    <message>
        <source>Image %1: %2</source>
        <translation>Образ %1: %2</translation>
    </message>
</context>
</TS>
