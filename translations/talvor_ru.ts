<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en">
<context>
    <name>DeviceHolders</name>
    <message>
        <source>%1 (pid %2)</source>
        <translation>%1 (PID %2)</translation>
    </message>
    <message>
        <source>%1 is also open in %2.</source>
        <translation>Порт %1 также открыт в: %2.</translation>
    </message>
    <message>
        <source> and </source>
        <translation> и </translation>
    </message>
</context>
<context>
    <name>FirmwareUpdate</name>
    <message>
        <source>Could not open file!</source>
        <translation>Не удалось открыть файл!</translation>
    </message>
    <message>
        <source>Load program</source>
        <translation>Загрузить</translation>
    </message>
    <message>
        <source>Connect the device...</source>
        <translation>Подключите устройство...</translation>
    </message>
    <message>
        <source>Waiting for connection (%1)</source>
        <translation>Ожидание связи (%1)</translation>
    </message>
    <message>
        <source>Process of updating the program...</source>
        <translation>Идёт обновление программы...</translation>
    </message>
    <message>
        <source>Start the firmware...</source>
        <translation>Запуск прошивки...</translation>
    </message>
    <message>
        <source>Process of firmware update...</source>
        <translation>Идёт обновление прошивки...</translation>
    </message>
    <message>
        <source>Firmware update completed successfully!</source>
        <translation>Обновление прошивки успешно завершено!</translation>
    </message>
    <message>
        <source>There is no response from the device!</source>
        <translation>Нет ответа от устройства!</translation>
    </message>
    <message>
        <source>Checksum error receiving!</source>
        <translation>Ошибка контрольной суммы при приёме!</translation>
    </message>
    <message>
        <source>Did not match the model!</source>
        <translation>Модель устройства не совпадает!</translation>
    </message>
    <message>
        <source>The device number outside the allowed range!</source>
        <translation>Номер устройства вне допустимого диапазона!</translation>
    </message>
    <message>
        <source>You have exceeded the maximum program size!</source>
        <translation>Превышен максимальный размер программы!</translation>
    </message>
    <message>
        <source>An incorrect block number!</source>
        <translation>Неверный номер блока!</translation>
    </message>
    <message>
        <source>Checksum error transmission!</source>
        <translation>Ошибка контрольной суммы при передаче!</translation>
    </message>
    <message>
        <source>The port vanished: the reader or its converter was unplugged!</source>
        <translation>Порт пропал: считыватель или его преобразователь отключён!</translation>
    </message>
    <message>
        <source>No file name was given.</source>
        <translation>Имя файла не указано.</translation>
    </message>
    <message>
        <source>The connection dropped: the far port or the network went away!</source>
        <translation>Соединение разорвано: удалённый порт или сеть пропали!</translation>
    </message>
</context>
<context>
    <name>ImageCheck</name>
    <message>
        <source>The file is too short to be a firmware image (%1 bytes)</source>
        <translation>Файл слишком короткий для образа прошивки (%1 байт)</translation>
    </message>
    <message>
        <source>The description declared in the file (%1 bytes) does not fit in the file (%2 bytes)</source>
        <translation>Заявленное в файле описание (%1 байт) не помещается в файле (%2 байт)</translation>
    </message>
    <message>
        <source>The program section declared in the file (%1 bytes) is larger than the file (%2 bytes)</source>
        <translation>Заявленный в файле раздел программы (%1 байт) больше самого файла (%2 байт)</translation>
    </message>
    <message>
        <source>The file declares no program section</source>
        <translation>В файле не задан раздел программы</translation>
    </message>
    <message>
        <source>The program section declared in the file (%1 bytes) is smaller than the smallest firmware program (%2 bytes)</source>
        <translation>Заявленный в файле раздел программы (%1 байт) меньше наименьшей программы прошивки (%2 байт)</translation>
    </message>
    <message>
        <source>The file is larger than any firmware image could be (%1 bytes; at most %2)</source>
        <translation>Файл больше любого возможного образа прошивки (%1 байт; не более %2)</translation>
    </message>
    <message>
        <source>,</source>
        <comment>digit group separator</comment>
        <translation>&#xa0;</translation>
    </message>
</context>
<context>
    <name>ImageCopy</name>
    <message>
        <source>No file name was given.</source>
        <translation>Имя файла не указано.</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Это не обычный файл</translation>
    </message>
    <message>
        <source>%1 is not a regular file</source>
        <translation>%1 — не обычный файл</translation>
    </message>
</context>
<context>
    <name>JobRecorder</name>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>Trouble with the service journal:
%1
The job is not affected.</source>
        <translation>Неполадка журнала обслуживания:
%1
На работу это не влияет.</translation>
    </message>
</context>
<context>
    <name>MessageBox</name>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
</context>
<context>
    <name>Monitor</name>
    <message>
        <source>COM-port is closed</source>
        <translation>COM-порт закрыт</translation>
    </message>
    <message>
        <source>Device no answer</source>
        <translation>Устройство не отвечает</translation>
    </message>
    <message>
        <source>Device is ready</source>
        <translation>Устройство готово</translation>
    </message>
    <message>
        <source>vesion  </source>
        <translation>версия  </translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>неизвестна</translation>
    </message>
    <message>
        <source>With a bootloader version lower than 8.2, accurate information about the device firmware version is not available</source>
        <translation>При версии загрузчика ниже 8.2 точные сведения о версии прошивки устройства недоступны</translation>
    </message>
    <message>
        <source>Firmware versions prior to 5.3 do not contain the necessary information</source>
        <translation>Прошивки версий ниже 5.3 не содержат необходимых сведений</translation>
    </message>
</context>
<context>
    <name>PortDirectory</name>
    <message>
        <source>Serial number: %1</source>
        <translation>Серийный номер: %1</translation>
    </message>
</context>
<context>
    <name>PortOpenText</name>
    <message>
        <source>The COM port is busy!</source>
        <translation>COM-порт занят!</translation>
    </message>
    <message>
        <source>No port was chosen. Press &quot;Open&quot; and choose one from the list.</source>
        <translation>Порт не выбран. Нажмите «Открыть» и выберите порт из списка.</translation>
    </message>
    <message>
        <source>You may not open %1. Ask the administrator for access to it.</source>
        <translation>У вас нет права открывать %1. Попросите администратора дать доступ к нему.</translation>
    </message>
    <message>
        <source>You may not open %1: only members of the group %2 may.
Add yourself to it with
    sudo usermod -aG %2 %3
then log out and log in again: the new group counts from the next login.</source>
        <translation>У вас нет права открывать %1: это разрешено только членам группы %2.
Добавьте себя в неё командой
    sudo usermod -aG %2 %3
затем выйдите из системы и войдите снова: новая группа действует со следующего входа.</translation>
    </message>
    <message>
        <source>%1 is not there: the converter may be unplugged.
Plug it in, or press &quot;Open&quot; and choose the port again.</source>
        <translation>Порта %1 нет: возможно, конвертер отключён.
Подключите его или нажмите «Открыть» и снова выберите порт.</translation>
    </message>
    <message>
        <source>The port name %1 is too long: the tool takes names of at most %2 characters.
Choose another port.</source>
        <translation>Имя порта %1 слишком длинное: программа принимает имена не длиннее %2 символов.
Выберите другой порт.</translation>
    </message>
    <message>
        <source>Another program holds %1. Close it, or choose another port.</source>
        <translation>Порт %1 занят другой программой. Закройте её или выберите другой порт.</translation>
    </message>
    <message>
        <source>
Close that program, or choose another port.</source>
        <translation>
Закройте эту программу или выберите другой порт.</translation>
    </message>
    <message>
        <source>%1 does not lead to a serial port. Choose another port.</source>
        <translation>%1 не ведёт к последовательному порту. Выберите другой порт.</translation>
    </message>
    <message>
        <source>%1 could not be opened. Check the converter, or choose another port.</source>
        <translation>Не удалось открыть %1. Проверьте конвертер или выберите другой порт.</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>Open anyway</source>
        <translation>Всё равно открыть</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>
That program may take the reader&apos;s answers, and the tool would then see none.
Open the port anyway?</source>
        <translation>
Эта программа может перехватывать ответы считывателя, и тогда сервисная программа их не увидит.
Всё равно открыть порт?</translation>
    </message>
    <message>
        <source>You may not open %1, and no group of users may read and write it.
The tool&apos;s device rule gives USB serial converters to the group %2. Install it with
    %3
    %4
then unplug the converter and plug it in again, add yourself to the group with
    sudo usermod -aG %2 %5
and log out and log in again.</source>
        <translation>У вас нет права открывать %1, и ни одной группе пользователей не разрешено читать его и писать в него.
Правило устройств, которое поставляется с программой, отдаёт USB-конвертеры последовательного порта группе %2. Установите его командами
    %3
    %4
затем отключите конвертер и подключите его снова, добавьте себя в группу командой
    sudo usermod -aG %2 %5
и выйдите из системы и войдите снова.</translation>
    </message>
    <message>
        <source>The far port %1 is in use by another connection. Close that one first.</source>
        <translation>Удалённый порт %1 занят другим соединением. Сначала закройте его.</translation>
    </message>
    <message>
        <source>The host %1 is not found. Check its name.</source>
        <translation>Узел %1 не найден. Проверьте его имя.</translation>
    </message>
    <message>
        <source>%1 refused the connection: nothing takes connections on its port %2.
Check that the device server or ser2net runs and that the port is right.</source>
        <translation>%1 отклонил соединение: на его порту %2 никто не принимает соединения.
Проверьте, что сервер устройств или ser2net запущен и порт указан верно.</translation>
    </message>
    <message>
        <source>The far end refused the reader&apos;s line settings (19200 baud, 8 data bits, no parity, 1 stop bit).</source>
        <translation>Удалённая сторона отклонила параметры линии считывателя (19200 бод, 8 бит данных, без чётности, 1 стоп-бит).</translation>
    </message>
    <message>
        <source>cannot open %1: %2</source>
        <translation>не удаётся открыть %1: %2</translation>
    </message>
</context>
<context>
    <name>SettingsFields</name>
    <message>
        <source>Rule of button &apos;&apos;0&quot; input in buffer</source>
        <translation>Правило ввода кнопки «0» в буфер</translation>
    </message>
    <message>
        <source>DeviceType</source>
        <translation>Тип устройства</translation>
    </message>
    <message>
        <source>Red Led</source>
        <translation>Красный</translation>
    </message>
    <message>
        <source>Green Led</source>
        <translation>Зелёный</translation>
    </message>
    <message>
        <source>Beep</source>
        <translation>Зуммер</translation>
    </message>
    <message>
        <source>&quot;Temic Only&quot;</source>
        <translation>«Только Temic»</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>ВЫКЛ</translation>
    </message>
    <message>
        <source>ON</source>
        <translation>ВКЛ</translation>
    </message>
    <message>
        <source>Keyboard Backlight Brightness</source>
        <translation>Яркость подсветки клавиатуры</translation>
    </message>
    <message>
        <source>Always OFF</source>
        <translation>Всегда выкл.</translation>
    </message>
    <message>
        <source>Always ON</source>
        <translation>Всегда вкл.</translation>
    </message>
    <message>
        <source>Interface</source>
        <translation>Интерфейс</translation>
    </message>
    <message>
        <source>Selected by cable connection</source>
        <translation>Задаётся подключением кабеля</translation>
    </message>
    <message>
        <source>iButton FC from Keybord</source>
        <translation>Код iButton с клавиатуры</translation>
    </message>
    <message>
        <source>iButton &quot;Card&quot; Length</source>
        <translation>Длина «карты» iButton</translation>
    </message>
    <message>
        <source>3 bytes</source>
        <translation>3 байта</translation>
    </message>
    <message>
        <source>5 bytes</source>
        <translation>5 байт</translation>
    </message>
    <message>
        <source>Wiegand &quot;Card&quot; Length</source>
        <translation>Длина «карты» Wiegand</translation>
    </message>
    <message>
        <source>26 bits</source>
        <translation>26 бит</translation>
    </message>
    <message>
        <source>42 bits</source>
        <translation>42 бита</translation>
    </message>
    <message>
        <source>Wiegand &quot;Button&quot; Format</source>
        <translation>Формат «кнопки» Wiegand</translation>
    </message>
    <message>
        <source>hid-09 (8 bits)</source>
        <translation>hid-09 (8 бит)</translation>
    </message>
    <message>
        <source>hid-00 (4 bits)</source>
        <translation>hid-00 (4 бита)</translation>
    </message>
    <message>
        <source>hid-11 (6 bits)</source>
        <translation>hid-11 (6 бит)</translation>
    </message>
    <message>
        <source>&quot;One Time&quot; Sending</source>
        <translation>«Однократная» передача</translation>
    </message>
    <message>
        <source>Input from Keyboard</source>
        <translation>Ввод с клавиатуры</translation>
    </message>
    <message>
        <source>sending full buffer by &quot;Enter&quot;</source>
        <translation>передача всего буфера по «Enter»</translation>
    </message>
    <message>
        <source>sending code of pressed button</source>
        <translation>передача кода нажатой кнопки</translation>
    </message>
    <message>
        <source>befor: 0000, &quot;0&quot;-&gt;0x0a, after: 000a</source>
        <translation>до: 0000, «0»-&gt;0x0a, после: 000a</translation>
    </message>
    <message>
        <source>befor: 0000, &quot;0&quot;-&gt;0x00, after: 0000</source>
        <translation>до: 0000, «0»-&gt;0x00, после: 0000</translation>
    </message>
    <message>
        <source>befor: FFFF, &quot;0&quot;-&gt;0x00, after: FFF0</source>
        <translation>до: FFFF, «0»-&gt;0x00, после: FFF0</translation>
    </message>
    <message>
        <source>%1, not a known value</source>
        <translation>%1, неизвестное значение</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>Device:</source>
        <translation>Модель:</translation>
    </message>
    <message>
        <source>COM-port</source>
        <translation>COM-порт</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Instructions for updating the program</source>
        <translation>Инструкция по обновлению программы</translation>
    </message>
    <message>
        <source>Current firmware:</source>
        <translation>Текущая прошивка:</translation>
    </message>
    <message>
        <source>Loader:</source>
        <translation>Загрузчик:</translation>
    </message>
    <message>
        <source>Firmware:</source>
        <translation>Прошивка:</translation>
    </message>
    <message>
        <source>Serial N:</source>
        <translation>Сер. №:</translation>
    </message>
    <message>
        <source>COM-port is closed</source>
        <translation>COM-порт закрыт</translation>
    </message>
    <message>
        <source>Update firmware:</source>
        <translation>Обновление прошивки:</translation>
    </message>
    <message>
        <source>Specify the firmware file:</source>
        <translation>Укажите файл прошивки:</translation>
    </message>
    <message>
        <source>Firmware file description:</source>
        <translation>Описание файла прошивки:</translation>
    </message>
    <message>
        <source>Device Setting</source>
        <translation>Настройки устройства</translation>
    </message>
    <message>
        <source>Load program</source>
        <translation>Загрузить</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Стоп</translation>
    </message>
    <message>
        <source>Program loaded:</source>
        <translation>Загружено:</translation>
    </message>
    <message>
        <source>Status:</source>
        <translation>Состояние:</translation>
    </message>
    <message>
        <source>New Thread Error</source>
        <translation>Ошибка создания потока</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>The firmware update is running.
If you quit now, the reader stays in its boot loader until it is updated again.</source>
        <translation>Идёт обновление прошивки.
Если выйти сейчас, считыватель останется в загрузчике до следующего обновления.</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Выйти</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Продолжить</translation>
    </message>
    <message>
        <source>Select the COM port!</source>
        <translation>Выберите COM-порт!</translation>
    </message>
    <message>
        <source>The firmware file cannot be used!
%1
%2.</source>
        <translation>Файл прошивки непригоден!
%1
%2.</translation>
    </message>
    <message>
        <source>Select the firmware file!</source>
        <translation>Выберите файл прошивки!</translation>
    </message>
    <message>
        <source>Reader history...</source>
        <translation>История считывателя...</translation>
    </message>
    <message>
        <source>History...</source>
        <translation>История...</translation>
    </message>
    <message>
        <source>The service journal: every job on every reader (Ctrl+H)</source>
        <translation>Журнал обслуживания: все работы со всеми считывателями (Ctrl+H)</translation>
    </message>
    <message>
        <source>Job details...</source>
        <translation>Данные работы...</translation>
    </message>
    <message>
        <source>Your name, the report&apos;s logo, and the site, customer and note of the next jobs</source>
        <translation>Ваше имя, логотип отчёта, а также объект, заказчик и примечание следующих работ</translation>
    </message>
    <message>
        <source>The technician&apos;s name cannot be saved in %1.</source>
        <translation>Не удалось сохранить имя техника в %1.</translation>
    </message>
</context>
<context>
    <name>TForm2</name>
    <message>
        <source>COM-port</source>
        <translation>COM-порт</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Network port...</source>
        <translation>Сетевой порт...</translation>
    </message>
    <message>
        <source>rfc2217://HOST:PORT or tcp://HOST:PORT: a reader behind a device server or ser2net</source>
        <translation>rfc2217://УЗЕЛ:ПОРТ или tcp://УЗЕЛ:ПОРТ: считыватель за сервером устройств или ser2net</translation>
    </message>
    <message>
        <source>Network port</source>
        <translation>Сетевой порт</translation>
    </message>
    <message>
        <source>The reader&apos;s port on the network:
rfc2217://HOST:PORT for a device server or ser2net with RFC 2217,
tcp://HOST:PORT for a raw TCP port (its line set to 19200 8N1 there).</source>
        <translation>Порт считывателя в сети:
rfc2217://УЗЕЛ:ПОРТ для сервера устройств или ser2net с RFC 2217,
tcp://УЗЕЛ:ПОРТ для простого TCP-порта (его линия там настроена на 19200 8N1).</translation>
    </message>
    <message>
        <source>%1 is no network port. Write it as rfc2217://HOST:PORT or tcp://HOST:PORT.</source>
        <translation>%1 не является сетевым портом. Укажите его как rfc2217://УЗЕЛ:ПОРТ или tcp://УЗЕЛ:ПОРТ.</translation>
    </message>
</context>
<context>
    <name>TForm4</name>
    <message>
        <source>Instruction</source>
        <translation>Инструкция</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
</context>
<context>
    <name>TForm5</name>
    <message>
        <source>Information</source>
        <translation>Информация</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
</context>
<context>
    <name>TForm6</name>
    <message>
        <source>Setting</source>
        <translation>Настройки</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>DeviceType</source>
        <translation>Тип устройства</translation>
    </message>
    <message>
        <source>Ext. control   &quot;Activ Level&quot;</source>
        <translation>Уровни внешнего управления</translation>
    </message>
    <message>
        <source>Red Led</source>
        <translation>Красный</translation>
    </message>
    <message>
        <source>Green Led</source>
        <translation>Зелёный</translation>
    </message>
    <message>
        <source>Beep</source>
        <translation>Зуммер</translation>
    </message>
    <message>
        <source>&quot;Temic Only&quot;</source>
        <translation>«Только Temic»</translation>
    </message>
    <message>
        <source>OFF</source>
        <translation>ВЫКЛ</translation>
    </message>
    <message>
        <source>ON</source>
        <translation>ВКЛ</translation>
    </message>
    <message>
        <source>Keyboard Backlight Brightness</source>
        <translation>Яркость подсветки клавиатуры</translation>
    </message>
    <message>
        <source>Always OFF</source>
        <translation>Всегда выкл.</translation>
    </message>
    <message>
        <source>Always ON</source>
        <translation>Всегда вкл.</translation>
    </message>
    <message>
        <source>Default Settings</source>
        <translation>По умолчанию</translation>
    </message>
    <message>
        <source>Interface</source>
        <translation>Интерфейс</translation>
    </message>
    <message>
        <source>Selected by cable connection</source>
        <translation>Задаётся подключением кабеля</translation>
    </message>
    <message>
        <source>iButton FC from Keybord</source>
        <translation>Код iButton с клавиатуры</translation>
    </message>
    <message>
        <source>iButton &quot;Card&quot; Length</source>
        <translation>Длина «карты» iButton</translation>
    </message>
    <message>
        <source>3 bytes</source>
        <translation>3 байта</translation>
    </message>
    <message>
        <source>5 bytes</source>
        <translation>5 байт</translation>
    </message>
    <message>
        <source>Wiegand &quot;Card&quot; Length</source>
        <translation>Длина «карты» Wiegand</translation>
    </message>
    <message>
        <source>26 bits</source>
        <translation>26 бит</translation>
    </message>
    <message>
        <source>42 bits</source>
        <translation>42 бита</translation>
    </message>
    <message>
        <source>Wiegand &quot;Button&quot; Format</source>
        <translation>Формат «кнопки» Wiegand</translation>
    </message>
    <message>
        <source>hid-09 (8 bits)</source>
        <translation>hid-09 (8 бит)</translation>
    </message>
    <message>
        <source>hid-00 (4 bits)</source>
        <translation>hid-00 (4 бита)</translation>
    </message>
    <message>
        <source>hid-11 (6 bits)</source>
        <translation>hid-11 (6 бит)</translation>
    </message>
    <message>
        <source>&quot;One Time&quot; Sending</source>
        <translation>«Однократная» передача</translation>
    </message>
    <message>
        <source>Input from Keyboard</source>
        <translation>Ввод с клавиатуры</translation>
    </message>
    <message>
        <source>sending full buffer by &quot;Enter&quot;</source>
        <translation>передача всего буфера по «Enter»</translation>
    </message>
    <message>
        <source>sending code of pressed button</source>
        <translation>передача кода нажатой кнопки</translation>
    </message>
    <message>
        <source>Rule of button &apos;&apos;0&quot; input in buffer</source>
        <translation>Правило ввода кнопки «0» в буфер</translation>
    </message>
    <message>
        <source>befor: 0000, &quot;0&quot;-&gt;0x0a, after: 000a</source>
        <translation>до: 0000, «0»-&gt;0x0a, после: 000a</translation>
    </message>
    <message>
        <source>befor: 0000, &quot;0&quot;-&gt;0x00, after: 0000</source>
        <translation>до: 0000, «0»-&gt;0x00, после: 0000</translation>
    </message>
    <message>
        <source>befor: FFFF, &quot;0&quot;-&gt;0x00, after: FFF0</source>
        <translation>до: FFFF, «0»-&gt;0x00, после: FFF0</translation>
    </message>
    <message>
        <source>There is no connection with the device, or the
current Firmware version does not support this service</source>
        <translation>Нет связи с устройством, или текущая
версия прошивки не поддерживает эту функцию</translation>
    </message>
    <message>
        <source>Load Setting</source>
        <translation>Загрузка настроек</translation>
    </message>
    <message>
        <source>To Device</source>
        <translation>В устройство</translation>
    </message>
    <message>
        <source>From Device</source>
        <translation>Из устройства</translation>
    </message>
    <message>
        <source>See par. 4.2 of operatin manual<byte value="xd"/>
</source>
        <translation>См. п. 4.2 руководства по эксплуатации<byte value="xd"/>
</translation>
    </message>
    <message>
        <source>Select device type <byte value="xd"/>
NOTE: Keyboard input and keyboard backlight brightness settings <byte value="xd"/>
are only available for TalvorIV-M ETH KEYS</source>
        <translation>Выберите тип устройства<byte value="xd"/>
ПРИМЕЧАНИЕ: настройки ввода с клавиатуры и яркости подсветки клавиатуры<byte value="xd"/>
есть только у TalvorIV-M ETH KEYS</translation>
    </message>
    <message>
        <source>Param. 12 - Set keyboard backlight brightness<byte value="xd"/>
NOTE: TalvorIV-M ETH devices do not have backlight</source>
        <translation>Парам. 12 — яркость подсветки клавиатуры<byte value="xd"/>
ПРИМЕЧАНИЕ: у устройств TalvorIV-M ETH подсветки нет</translation>
    </message>
    <message>
        <source>Param. 08 - Selecting of identifier format when using the iButton interface<byte value="xd"/>
 NOTE: characters typed from the keyboard are always transmitted in a 5 byte packet</source>
        <translation>Парам. 08 — выбор формата идентификатора для интерфейса iButton<byte value="xd"/>
 ПРИМЕЧАНИЕ: символы, набранные на клавиатуре, всегда передаются пакетом из 5 байт</translation>
    </message>
    <message>
        <source>Param. 11 - Setting the iButton device code for keyboard input<byte value="xd"/>
NOTE: iButton device code for identificators - is 01 always</source>
        <translation>Парам. 11 — код устройства iButton для ввода с клавиатуры<byte value="xd"/>
ПРИМЕЧАНИЕ: для идентификаторов код устройства iButton всегда 01</translation>
    </message>
    <message>
        <source>Param. 10 - Selecting of Wiegand / iButton interface - setting value 4 <byte value="xd"/>
NOTE: only for iButton interface</source>
        <translation>Парам. 10 — выбор интерфейса Wiegand / iButton — значение 4<byte value="xd"/>
ПРИМЕЧАНИЕ: только для интерфейса iButton</translation>
    </message>
    <message>
        <source>Choice of Communication protocol<byte value="xd"/>
NOTE: The selected interface (iButton or Wiegand) cannot be changed by connecting the device cable)</source>
        <translation>Выбор протокола связи<byte value="xd"/>
ПРИМЕЧАНИЕ: выбранный здесь интерфейс (iButton или Wiegand) подключением кабеля устройства не меняется</translation>
    </message>
    <message>
        <source>Keyboard input - Selecting the card emulation or character-by-character transfer mode<byte value="xd"/>
NOTE: character-by-character transfer mode can only be selected if Wiegand interface is selected</source>
        <translation>Ввод с клавиатуры — выбор режима эмуляции карты или посимвольной передачи<byte value="xd"/>
ПРИМЕЧАНИЕ: посимвольную передачу можно выбрать, только если выбран интерфейс Wiegand</translation>
    </message>
    <message>
        <source>Param. 05 - Selecting the card emulation mode and setting the card emulation format</source>
        <translation>Парам. 05 — выбор режима эмуляции карты и формата эмуляции</translation>
    </message>
    <message>
        <source>Param. 09 - Choosing an identifier format when using the Wiegand interface</source>
        <translation>Парам. 09 — выбор формата идентификатора для интерфейса Wiegand</translation>
    </message>
    <message>
        <source>Param. 06 Setting the format of character-by-character transfer mode (only if the Wiegand interface is selected)</source>
        <translation>Парам. 06 — формат посимвольной передачи (только при выбранном интерфейсе Wiegand)</translation>
    </message>
    <message>
        <source>Fill form fields with default values<byte value="xd"/>
NOTE: the transfer of values to the equipment is performed by &apos;pressing&apos; the &apos;ToDevice&apos; button</source>
        <translation>Заполнить поля значениями по умолчанию<byte value="xd"/>
ПРИМЕЧАНИЕ: в устройство значения передаются кнопкой «В устройство»</translation>
    </message>
    <message>
        <source>Read setting from TalvorIV</source>
        <translation>Прочитать настройки из TalvorIV</translation>
    </message>
    <message>
        <source>Store setting to TalvorIV</source>
        <translation>Записать настройки в TalvorIV</translation>
    </message>
    <message>
        <source>Read current device setting from device - &apos;From Device&apos; &apos;button&apos; or  <byte value="xd"/>
save setting to device - &apos;To Device&apos; &apos;button&apos; </source>
        <translation>Прочитать текущие настройки из устройства — кнопка «Из устройства», или<byte value="xd"/>
записать настройки в устройство — кнопка «В устройство»</translation>
    </message>
    <message>
        <source>Param. 02, 03, 04<byte value="xd"/>
Setting active levels of external indication control</source>
        <translation>Парам. 02, 03, 04<byte value="xd"/>
Активные уровни внешнего управления индикацией</translation>
    </message>
    <message>
        <source>See par. 4.2 of operatin manual <byte value="xd"/>
Param. 07 - function &apos;Anticlone&apos; ON/OFF <byte value="xd"/>
NOTE:<byte value="xd"/>
for versions 6.x, 7.x &apos;Anticlone&apos;/&apos;Temic only&apos;<byte value="xd"/>
for version 5.x &apos;Anticlone&apos; ON/OFF</source>
        <translation>См. п. 4.2 руководства по эксплуатации<byte value="xd"/>
Парам. 07 — функция «Антиклон» ВКЛ/ВЫКЛ<byte value="xd"/>
ПРИМЕЧАНИЕ:<byte value="xd"/>
для версий 6.x, 7.x — «Антиклон»/«Только Temic»<byte value="xd"/>
для версии 5.x — «Антиклон» ВКЛ/ВЫКЛ</translation>
    </message>
    <message>
        <source>YES</source>
        <translation>ДА</translation>
    </message>
    <message>
        <source> NO </source>
        <translation> НЕТ </translation>
    </message>
    <message>
        <source>The settings have been changed but not saved in the device<byte value="xd"/>
 finish editing the settings anyway?</source>
        <translation>Настройки изменены, но не записаны в устройство.<byte value="xd"/>
 Всё равно закончить редактирование?</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Device no answer</source>
        <translation>Устройство не отвечает</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>The device did not take these settings:<byte value="xd"/>
%1<byte value="xd"/>
The window now shows what the device holds.</source>
        <translation>Устройство не приняло эти настройки:<byte value="xd"/>
%1<byte value="xd"/>
Теперь в окне показано то, что хранится в устройстве.</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(нет)</translation>
    </message>
    <message>
        <source>The device holds values this window does not know, and writing these settings changes them:<byte value="xd"/>
%1<byte value="xd"/>
Write the settings to the device?</source>
        <translation>В устройстве есть значения, неизвестные этому окну, и запись этих настроек их изменит:<byte value="xd"/>
%1<byte value="xd"/>
Записать настройки в устройство?</translation>
    </message>
    <message>
        <source>The device answered with a bad checksum</source>
        <translation>Устройство ответило с неверной контрольной суммой</translation>
    </message>
    <message>
        <source>The port vanished: the converter may have been unplugged</source>
        <translation>Порт пропал: возможно, преобразователь отключён</translation>
    </message>
    <message>
        <source>The connection dropped: the far port or the network went away</source>
        <translation>Соединение разорвано: удалённый порт или сеть пропали</translation>
    </message>
    <message>
        <source>Save to file...</source>
        <translation>Сохранить в файл...</translation>
    </message>
    <message>
        <source>Load from file...</source>
        <translation>Загрузить из файла...</translation>
    </message>
    <message>
        <source>Compare with file...</source>
        <translation>Сравнить с файлом...</translation>
    </message>
    <message>
        <source>Not written: the device did not answer</source>
        <translation>Не записано: устройство не ответило</translation>
    </message>
    <message>
        <source>Written and verified</source>
        <translation>Записано и проверено</translation>
    </message>
    <message>
        <source>Not taken by the device: %1</source>
        <translation>Устройство не приняло: %1</translation>
    </message>
    <message>
        <source>Settings files (*.json)</source>
        <translation>Файлы настроек (*.json)</translation>
    </message>
    <message>
        <source>All files (*)</source>
        <translation>Все файлы (*)</translation>
    </message>
    <message>
        <source>Load settings from file</source>
        <translation>Загрузить настройки из файла</translation>
    </message>
    <message>
        <source>Save settings to file</source>
        <translation>Сохранить настройки в файл</translation>
    </message>
    <message>
        <source>The settings file is refused</source>
        <translation>Файл настроек отклонён</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>Не удалось прочитать %1: %2</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>Не удалось записать %1: %2</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Сохранено в %1</translation>
    </message>
    <message>
        <source>Loaded from %1, not yet written to the device</source>
        <translation>Загружено из %1, в устройство ещё не записано</translation>
    </message>
    <message>
        <source>%1: device %2, file %3</source>
        <translation>%1: в устройстве %2, в файле %3</translation>
    </message>
    <message>
        <source>The device&apos;s settings and the file&apos;s are the same.</source>
        <translation>Настройки устройства и файла совпадают.</translation>
    </message>
    <message>
        <source>The device&apos;s settings and the file&apos;s differ:<byte value="xd"/>
%1</source>
        <translation>Настройки устройства и файла различаются:<byte value="xd"/>
%1</translation>
    </message>
    <message>
        <source>Compare with file</source>
        <translation>Сравнение с файлом</translation>
    </message>
</context>
<context>
    <name>THistoryForm</name>
    <message>
        <source>Reader history</source>
        <translation>История считывателя</translation>
    </message>
    <message>
        <source>Started</source>
        <translation>Начало</translation>
    </message>
    <message>
        <source>Job</source>
        <translation>Работа</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Результат</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Прошивка</translation>
    </message>
    <message>
        <source>Technician</source>
        <translation>Техник</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Firmware update</source>
        <translation>Обновление прошивки</translation>
    </message>
    <message>
        <source>Settings written</source>
        <translation>Запись настроек</translation>
    </message>
    <message>
        <source>Settings read</source>
        <translation>Чтение настроек</translation>
    </message>
    <message>
        <source>Unfinished</source>
        <translation>Не завершено</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Выполнено</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>The journal cannot be read: %1</source>
        <translation>Журнал не удаётся прочитать: %1</translation>
    </message>
    <message>
        <source>All readers</source>
        <translation>Все считыватели</translation>
    </message>
    <message>
        <source>Serial number:</source>
        <translation>Серийный номер:</translation>
    </message>
    <message>
        <source>any</source>
        <translation>любой</translation>
    </message>
    <message>
        <source>Job:</source>
        <translation>Работа:</translation>
    </message>
    <message>
        <source>All jobs</source>
        <translation>Все работы</translation>
    </message>
    <message>
        <source>Result:</source>
        <translation>Результат:</translation>
    </message>
    <message>
        <source>Any result</source>
        <translation>Любой результат</translation>
    </message>
    <message>
        <source>Started from</source>
        <translation>Начаты с</translation>
    </message>
    <message>
        <source>to</source>
        <translation>по</translation>
    </message>
    <message>
        <source>Reader</source>
        <translation>Считыватель</translation>
    </message>
    <message>
        <source>Service report (PDF)...</source>
        <translation>Сервисный отчёт (PDF)...</translation>
    </message>
    <message>
        <source>Export CSV...</source>
        <translation>Экспорт в CSV...</translation>
    </message>
    <message>
        <source>Ended</source>
        <translation>Окончена</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Длительность</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 с</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Пользователь</translation>
    </message>
    <message>
        <source>Computer</source>
        <translation>Компьютер</translation>
    </message>
    <message>
        <source>Site</source>
        <translation>Объект</translation>
    </message>
    <message>
        <source>Customer</source>
        <translation>Заказчик</translation>
    </message>
    <message>
        <source>Note</source>
        <translation>Примечание</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Порт</translation>
    </message>
    <message>
        <source>USB converter</source>
        <translation>USB-преобразователь</translation>
    </message>
    <message>
        <source>Service tool</source>
        <translation>Сервисная программа</translation>
    </message>
    <message>
        <source>Boot loader</source>
        <translation>Загрузчик</translation>
    </message>
    <message>
        <source>Firmware file</source>
        <translation>Файл прошивки</translation>
    </message>
    <message>
        <source>File size</source>
        <translation>Размер файла</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 байт</translation>
    </message>
    <message>
        <source>SHA-256</source>
        <translation>SHA-256</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Описание</translation>
    </message>
    <message>
        <source>Blocks sent</source>
        <translation>Отправлено блоков</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 из %2</translation>
    </message>
    <message>
        <source>Boot entry attempts</source>
        <translation>Попыток входа в загрузчик</translation>
    </message>
    <message>
        <source>Settings before</source>
        <translation>Настройки до</translation>
    </message>
    <message>
        <source>Settings after</source>
        <translation>Настройки после</translation>
    </message>
    <message>
        <source>Changes</source>
        <translation>Изменения</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>Changes:</source>
        <translation>Изменения:</translation>
    </message>
    <message>
        <source>Error lines:</source>
        <translation>Строки ошибок:</translation>
    </message>
    <message>
        <source>Entry</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>This reader (%1)</source>
        <translation>Этот считыватель (%1)</translation>
    </message>
    <message>
        <source>The journal has no entries that match.</source>
        <translation>В журнале нет подходящих записей.</translation>
    </message>
    <message>
        <source>Only the newest %1 entries are listed.</source>
        <translation>Показаны только последние %1 записей.</translation>
    </message>
    <message>
        <source>Service report</source>
        <translation>Сервисный отчёт</translation>
    </message>
    <message>
        <source>PDF files (*.pdf)</source>
        <translation>Файлы PDF (*.pdf)</translation>
    </message>
    <message>
        <source>The service report cannot be written:
%1</source>
        <translation>Не удалось записать сервисный отчёт:
%1</translation>
    </message>
    <message>
        <source>Export CSV</source>
        <translation>Экспорт в CSV</translation>
    </message>
    <message>
        <source>CSV files (*.csv)</source>
        <translation>Файлы CSV (*.csv)</translation>
    </message>
    <message>
        <source>The file cannot be written:
%1
%2</source>
        <translation>Не удалось записать файл:
%1
%2</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 (%2)</translation>
    </message>
</context>
<context>
    <name>TJobDetailsForm</name>
    <message>
        <source>Job details</source>
        <translation>Данные работы</translation>
    </message>
    <message>
        <source>Technician:</source>
        <translation>Техник:</translation>
    </message>
    <message>
        <source>Your name, as the journal and the service reports show it; kept for the next start</source>
        <translation>Ваше имя, как его покажут журнал и сервисные отчёты; сохраняется до следующего запуска</translation>
    </message>
    <message>
        <source>Report logo:</source>
        <translation>Логотип отчёта:</translation>
    </message>
    <message>
        <source>An image for the head of the service reports (optional); kept for the next start</source>
        <translation>Изображение для шапки сервисных отчётов (необязательно); сохраняется до следующего запуска</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Обзор...</translation>
    </message>
    <message>
        <source>Site:</source>
        <translation>Объект:</translation>
    </message>
    <message>
        <source>Customer:</source>
        <translation>Заказчик:</translation>
    </message>
    <message>
        <source>Note:</source>
        <translation>Примечание:</translation>
    </message>
    <message>
        <source>Site, customer and note go with every job from now on, until you change them.</source>
        <translation>Объект, заказчик и примечание записываются с каждой следующей работой, пока вы их не измените.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Report logo</source>
        <translation>Логотип отчёта</translation>
    </message>
    <message>
        <source>Images (*.png *.jpg *.jpeg *.bmp)</source>
        <translation>Изображения (*.png *.jpg *.jpeg *.bmp)</translation>
    </message>
</context>
<context>
    <name>TOpenDialog</name>
    <message>
        <source>Rom file (*.rom)</source>
        <translation>Файл ROM (*.rom)</translation>
    </message>
    <message>
        <source>Intel hex (*.hex)</source>
        <translation>Intel HEX (*.hex)</translation>
    </message>
</context>
<context>
    <name>TSetup</name>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>The COM ports are missing!!!</source>
        <translation>COM-порты отсутствуют!!!</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Предупреждение</translation>
    </message>
    <message>
        <source>The previously selected %1 on the computer does not exist.
Select another COM port.</source>
        <translation>Ранее выбранного порта %1 на компьютере нет.
Выберите другой COM-порт.</translation>
    </message>
    <message>
        <source>A serial port on the network</source>
        <translation>Последовательный порт в сети</translation>
    </message>
</context>
</TS>
