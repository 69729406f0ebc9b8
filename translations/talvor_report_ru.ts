<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en">
<context>
    <name>ServiceReport</name>
    <message>
        <source>completed</source>
        <translation>завершено</translation>
    </message>
    <message>
        <source>image refused</source>
        <translation>образ отклонён</translation>
    </message>
    <message>
        <source>image unreadable</source>
        <translation>образ не читается</translation>
    </message>
    <message>
        <source>no boot loader</source>
        <translation>нет загрузчика</translation>
    </message>
    <message>
        <source>reader error</source>
        <translation>ошибка считывателя</translation>
    </message>
    <message>
        <source>no answer</source>
        <translation>нет ответа</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>остановлено</translation>
    </message>
    <message>
        <source>interrupted</source>
        <translation>прервано</translation>
    </message>
    <message>
        <source>port vanished</source>
        <translation>порт пропал</translation>
    </message>
    <message>
        <source>connection dropped</source>
        <translation>соединение разорвано</translation>
    </message>
    <message>
        <source>short reply</source>
        <translation>неполный ответ</translation>
    </message>
    <message>
        <source>bad checksum</source>
        <translation>неверная контрольная сумма</translation>
    </message>
    <message>
        <source>not taken</source>
        <translation>не принято</translation>
    </message>
    <message>
        <source>refused</source>
        <translation>отказано</translation>
    </message>
    <message>
        <source>cut short</source>
        <translation>не доведено до конца</translation>
    </message>
    <message>
        <source>Refused by the service tool</source>
        <translation>Отказ сервисной программы</translation>
    </message>
    <message>
        <source>The reader&apos;s error lines</source>
        <translation>Сообщения об ошибках считывателя</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 с</translation>
    </message>
    <message>
        <source>%1 min %2 s</source>
        <translation>%1 мин %2 с</translation>
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
        <source>Not finished</source>
        <translation>Не завершено</translation>
    </message>
    <message>
        <source>the job was cut short</source>
        <translation>работа прервана</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Выполнено</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Не выполнено</translation>
    </message>
    <message>
        <source>and %1 more</source>
        <translation>и ещё %1</translation>
    </message>
    <message>
        <source>Service report</source>
        <translation>Акт сервисного обслуживания</translation>
    </message>
    <message>
        <source>TALVOR IV card reader</source>
        <translation>Считыватель карт TALVOR IV</translation>
    </message>
    <message>
        <source>Reader serial number: %1</source>
        <translation>Серийный номер считывателя: %1</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>неизвестен</translation>
    </message>
    <message>
        <source>Work done</source>
        <translation>Выполненная работа</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Результат</translation>
    </message>
    <message>
        <source>Started</source>
        <translation>Начало</translation>
    </message>
    <message>
        <source>Ended</source>
        <translation>Окончание</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Длительность</translation>
    </message>
    <message>
        <source>Technician</source>
        <translation>Техник</translation>
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
        <source>(USB converter %1)</source>
        <translation>(USB-преобразователь %1)</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Порт</translation>
    </message>
    <message>
        <source>Service tool</source>
        <translation>Сервисная программа</translation>
    </message>
    <message>
        <source>Before and after</source>
        <translation>До и после</translation>
    </message>
    <message>
        <source>Before</source>
        <translation>До</translation>
    </message>
    <message>
        <source>After</source>
        <translation>После</translation>
    </message>
    <message>
        <source>Boot loader</source>
        <translation>Загрузчик</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Прошивка</translation>
    </message>
    <message>
        <source>Settings record</source>
        <translation>Байты настроек</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Подробности</translation>
    </message>
    <message>
        <source>Firmware image</source>
        <translation>Образ прошивки</translation>
    </message>
    <message>
        <source>, %1 bytes</source>
        <translation>, %1 байт</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Описание</translation>
    </message>
    <message>
        <source>Blocks sent</source>
        <translation>Передано блоков</translation>
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
        <source>Fields changed</source>
        <translation>Изменённые поля</translation>
    </message>
    <message>
        <source>none</source>
        <translation>нет</translation>
    </message>
    <message>
        <source>Technician&apos;s signature:</source>
        <translation>Подпись техника:</translation>
    </message>
    <message>
        <source>Customer&apos;s signature:</source>
        <translation>Подпись заказчика:</translation>
    </message>
    <message>
        <source>Service journal entry %1</source>
        <translation>Запись сервисного журнала %1</translation>
    </message>
    <message>
        <source>%1 cannot be written</source>
        <translation>Не удаётся записать %1</translation>
    </message>
    <message>
        <source>%1 on %2</source>
        <translation>%1 на %2</translation>
    </message>
    <message>
        <source>read</source>
        <translation>прочитаны</translation>
    </message>
    <message>
        <source>written</source>
        <translation>записаны</translation>
    </message>
    <message>
        <source>unchanged</source>
        <translation>без изменений</translation>
    </message>
</context>
</TS>
