<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="ru_RU">
<context>
    <name>SysMessageBox</name>
    <message>
        <source>ОК</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Да</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>Нет</source>
        <translation>No</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TParamsModel</name>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Значение</source>
        <translation>Value</translation>
    </message>
</context>
<context>
    <name>TSlotTile</name>
    <message>
        <source>готово</source>
        <translation>done</translation>
    </message>
    <message>
        <source>прервано</source>
        <translation>interrupted</translation>
    </message>
    <message>
        <source>отказ в записи</source>
        <translation>a write refused</translation>
    </message>
    <message>
        <source>расхождение при проверке</source>
        <translation>differs when read back</translation>
    </message>
    <message>
        <source>ошибка</source>
        <translation>failed</translation>
    </message>
    <message>
        <source>Ожидание трекера</source>
        <translation>Waiting for a tracker</translation>
    </message>
    <message>
        <source>Определение</source>
        <translation>Identifying</translation>
    </message>
    <message>
        <source>Уже настроен</source>
        <translation>Done before</translation>
    </message>
    <message>
        <source>Резервная копия</source>
        <translation>Backup</translation>
    </message>
    <message>
        <source>Прошивка</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Запись %1 из %2</source>
        <translation>Writing %1 of %2</translation>
    </message>
    <message>
        <source>Проверка</source>
        <translation>Verifying</translation>
    </message>
    <message>
        <source>Готово</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Ошибка</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>Предыдущий трекер: %1</source>
        <translation>Previous tracker: %1</translation>
    </message>
</context>
<context>
    <name>TStationWindow</name>
    <message>
        <source>VELTRA - Станция: %1</source>
        <translation>VELTRA - Station: %1</translation>
    </message>
    <message>
        <source>Готово: %1    Ошибки: %2    Пропущено: %3    В работе: %4    Трекеров в час: %5</source>
        <translation>Done: %1    Failed: %2    Skipped: %3    In progress: %4    Trackers per hour: %5</translation>
    </message>
    <message>
        <source>Задание станции</source>
        <translation>Station job</translation>
    </message>
    <message>
        <source>Задания (*.job);;Все файлы (*)</source>
        <translation>Jobs (*.job);;All files (*)</translation>
    </message>
    <message>
        <source>VELTRA - Станция</source>
        <translation>VELTRA - Station</translation>
    </message>
    <message>
        <source>Задание не запущено, в трекеры ничего не записано:</source>
        <translation>The job was not started, nothing was written to any tracker:</translation>
    </message>
    <message>
        <source>ожидание задания</source>
        <translation>waiting for a job</translation>
    </message>
</context>
<context>
    <name>TVeltraAbout</name>
    <message>
        <source>Версия </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>VELTRA - О программе</source>
        <translation>VELTRA - About</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>TVeltraBackups</name>
    <message>
        <source>Резервные копии конфигурации</source>
        <translation>Configuration backups</translation>
    </message>
    <message>
        <source>Для этого трекера резервных копий нет.</source>
        <translation>There are no backups for this tracker.</translation>
    </message>
    <message>
        <source>Сохранены перед записью или обновлением:</source>
        <translation>Saved before a write or an update:</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Загрузить</source>
        <translation>Load</translation>
    </message>
</context>
<context>
    <name>TVeltraCommander</name>
    <message>
        <source>Подключён другой трекер (IMEI %1, команды готовились для IMEI %2). Не отправлено команд записи: %3.</source>
        <translation>Another tracker is connected (IMEI %1; the commands were prepared for IMEI %2). Write commands not sent: %3.</translation>
    </message>
    <message>
        <source>Обновление прошивки прервано по Вашему желанию.</source>
        <translation>The firmware update was cancelled at your request.</translation>
    </message>
    <message>
        <source>Обновление прошивки завершено. Устройство будет перезагружено.</source>
        <translation>The firmware update is complete. The device will reboot.</translation>
    </message>
    <message>
        <source>Ошибка при передаче прошивки в устройство [%1].</source>
        <translation>Error while sending the firmware to the device [%1].</translation>
    </message>
    <message>
        <source>Загрузка прошивки из файла [%1]</source>
        <translation>Uploading the firmware from the file [%1]</translation>
    </message>
    <message>
        <source>Ожидание готовности устройства</source>
        <translation>Waiting for the device to get ready</translation>
    </message>
    <message>
        <source>Блок %1 из %2</source>
        <translation>Block %1 of %2</translation>
    </message>
    <message>
        <source>Завершение передачи</source>
        <translation>Finishing the transfer</translation>
    </message>
</context>
<context>
    <name>TVeltraCompare</name>
    <message>
        <source>(нет)</source>
        <translation>(none)</translation>
    </message>
    <message>
        <source>Конфигурация трекера совпадает с файлом.</source>
        <translation>The tracker&apos;s configuration matches the file.</translation>
    </message>
    <message>
        <source>Отличий: %1</source>
        <translation>Differences: %1</translation>
    </message>
    <message>
        <source>Параметр</source>
        <translation>Parameter</translation>
    </message>
    <message>
        <source>Название</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>В трекере</source>
        <translation>In the tracker</translation>
    </message>
    <message>
        <source>В файле</source>
        <translation>In the file</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Загрузить отличия</source>
        <translation>Load the differences</translation>
    </message>
    <message>
        <source>Загрузить файл</source>
        <translation>Load the file</translation>
    </message>
    <message>
        <source>Сравнение с файлом %1</source>
        <translation>Comparison with the file %1</translation>
    </message>
</context>
<context>
    <name>TVeltraConfigurator</name>
    <message>
        <source>Конфигуратор</source>
        <translation>Configurator</translation>
    </message>
    <message>
        <source>нет устройства</source>
        <translation>no device</translation>
    </message>
    <message>
        <source>VELTRA - Конфигуратор</source>
        <translation>VELTRA - Configurator</translation>
    </message>
    <message>
        <source>Загрузить конфигурацию</source>
        <translation>Load configuration</translation>
    </message>
    <message>
        <source>Сохранить конфигурацию</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>Найти параметр</source>
        <translation>Find parameter</translation>
    </message>
    <message>
        <source>Оставить в дереве только подходящие строки</source>
        <translation>Keep only the matching rows in the tree</translation>
    </message>
    <message>
        <source>Показать журналы</source>
        <translation>Show logs</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Прочитать конфигурацию</source>
        <translation>Read configuration</translation>
    </message>
    <message>
        <source>Перечитать конфигурацию из устройства</source>
        <translation>Read the configuration from the device again</translation>
    </message>
    <message>
        <source>Записать конфигурацию</source>
        <translation>Write configuration</translation>
    </message>
    <message>
        <source>Записать конфигурацию в устройство</source>
        <translation>Write the configuration to the device</translation>
    </message>
    <message>
        <source>Обновить прошивку</source>
        <translation>Update firmware</translation>
    </message>
    <message>
        <source>Перезагрузить</source>
        <translation>Reboot</translation>
    </message>
    <message>
        <source>Сравнить с файлом...</source>
        <translation>Compare with file...</translation>
    </message>
    <message>
        <source>Показать, что изменит в трекере файл конфигурации</source>
        <translation>Show what a configuration file would change in the tracker</translation>
    </message>
    <message>
        <source>Резервные копии...</source>
        <translation>Backups...</translation>
    </message>
    <message>
        <source>Загрузить конфигурацию, сохранённую перед записью или обновлением</source>
        <translation>Load a configuration saved before a write or an update</translation>
    </message>
    <message>
        <source>Показать информацию</source>
        <translation>Show information</translation>
    </message>
    <message>
        <source>Показать информацию об устройстве</source>
        <translation>Show information about the device</translation>
    </message>
    <message>
        <source>Справка</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>О программе</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Файл</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Устройство</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Параметр, название или значение (Esc - закрыть)</source>
        <translation>Parameter, name or value (Esc - close)</translation>
    </message>
    <message>
        <source>только изменённые</source>
        <translation>changed only</translation>
    </message>
    <message>
        <source>Некоторые параметры были изменены. При перезагрузке изменения будут потеряны. Всё равно перезагрузить?</source>
        <translation>Some parameters have been changed. Reading the configuration again loses the changes. Read it anyway?</translation>
    </message>
    <message>
        <source>Не удалось сохранить резервную копию конфигурации трекера (%1). Всё равно продолжить?</source>
        <translation>The tracker&apos;s configuration could not be backed up (%1). Go on anyway?</translation>
    </message>
    <message>
        <source>Сравнение с файлом конфигурации</source>
        <translation>Compare with a configuration file</translation>
    </message>
    <message>
        <source>Значения %1 параметров не соответствуют описанию: %2. Всё равно записать их в трекер?</source>
        <translation>The values of %1 parameters do not match their description: %2. Write them to the tracker anyway?</translation>
    </message>
    <message>
        <source>Записано параметров: %1</source>
        <translation>Parameters written: %1</translation>
    </message>
    <message>
        <source>, не принято трекером: %1 (%2)</source>
        <translation>, refused by the tracker: %1 (%2)</translation>
    </message>
    <message>
        <source>Сохранение конфигурации</source>
        <translation>Save configuration</translation>
    </message>
    <message>
        <source>Не удалось сохранить конфигурацию в файл [%1]: %2</source>
        <translation>The configuration could not be saved to the file [%1]: %2</translation>
    </message>
    <message>
        <source>Загрузка конфигурации</source>
        <translation>Load configuration</translation>
    </message>
    <message>
        <source>Выбор файла прошивки</source>
        <translation>Choose a firmware file</translation>
    </message>
    <message>
        <source>Некоторые параметры конфигурации были изменены. При обновлении прошивки эти изменения будут потеряны. Всё равно обновлять прошивку?</source>
        <translation>Some configuration parameters have been changed. Updating the firmware loses these changes. Update the firmware anyway?</translation>
    </message>
    <message>
        <source>Некоторые параметры были изменены. Записать их в трекер?</source>
        <translation>Some parameters have been changed. Write them to the tracker?</translation>
    </message>
    <message>
        <source>Трекер не подключён: изменения не могут быть записаны. Подключите трекер или закройте программу без записи.</source>
        <translation>No tracker is connected: the changes cannot be written. Connect the tracker or close the program without writing.</translation>
    </message>
    <message>
        <source>Нет доступа к последовательному порту %1. Попросите администратора компьютера дать Вам права на чтение и запись этого устройства.</source>
        <translation>No access to the serial port %1. Ask the computer&apos;s administrator for permission to read and write this device.</translation>
    </message>
    <message>
        <source>Нет доступа к последовательному порту %1: он принадлежит группе %2. Чтобы получить доступ, добавьте себя в эту группу командой

sudo usermod -aG %2 $USER

и войдите в систему заново.</source>
        <translation>No access to the serial port %1: it belongs to the group %2. To get access, add yourself to that group with the command

sudo usermod -aG %2 $USER

and log in again.</translation>
    </message>
    <message>
        <source>Файлы конфигурации (*.cfg)</source>
        <translation>Configuration files (*.cfg)</translation>
    </message>
    <message>
        <source>Все файлы</source>
        <translation>All files</translation>
    </message>
    <message>
        <source>Файлы прошивок (*.bin)</source>
        <translation>Firmware files (*.bin)</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>Отменить последнее изменение значений (Ctrl+Z)</source>
        <translation>Undo the last change of values (Ctrl+Z)</translation>
    </message>
    <message>
        <source>Вернуть</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>Вернуть отменённое изменение значений (Ctrl+Shift+Z)</source>
        <translation>Redo the undone change of values (Ctrl+Shift+Z)</translation>
    </message>
    <message>
        <source>изменение %1</source>
        <translation>change of %1</translation>
    </message>
    <message>
        <source>Отменено: %1</source>
        <translation>Undone: %1</translation>
    </message>
    <message>
        <source>Возвращено: %1</source>
        <translation>Redone: %1</translation>
    </message>
    <message>
        <source>загрузка отличий</source>
        <translation>load of the differences</translation>
    </message>
    <message>
        <source>загрузка файла %1</source>
        <translation>load of the file %1</translation>
    </message>
    <message>
        <source>Трекер не найден. Что проверено на этом компьютере (veltra_cli doctor покажет то же):</source>
        <translation>No tracker found. What was checked on this computer (veltra_cli doctor shows the same):</translation>
    </message>
    <message>
        <source>Трекер не найден: почему?</source>
        <translation>No tracker found: why?</translation>
    </message>
</context>
<context>
    <name>TVeltraDevInfo</name>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>VELTRA - Информация об устройстве</source>
        <translation>VELTRA - Device information</translation>
    </message>
    <message>
        <source>Наименование:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Версия программы:</source>
        <translation>Software version:</translation>
    </message>
    <message>
        <source>Версия платы:</source>
        <translation>Hardware version:</translation>
    </message>
</context>
<context>
    <name>TVeltraLogView</name>
    <message>
        <source>Конфигуратор</source>
        <translation>Configurator</translation>
    </message>
    <message>
        <source>Коммандер</source>
        <translation>Commander</translation>
    </message>
    <message>
        <source>COM-порт</source>
        <translation>COM port</translation>
    </message>
    <message>
        <source>VELTRA - Журнал</source>
        <translation>VELTRA - Log</translation>
    </message>
</context>
<context>
    <name>TVeltraMsgBox</name>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>VELTRA - Сообщение</source>
        <translation>VELTRA - Message</translation>
    </message>
</context>
<context>
    <name>TVeltraPassword</name>
    <message>
        <source>Показать пароль</source>
        <translation>Show password</translation>
    </message>
    <message>
        <source>VELTRA - Пароль</source>
        <translation>VELTRA - Password</translation>
    </message>
    <message>
        <source>Введите пароль для доступа к данным:</source>
        <translation>Enter the password to access the data:</translation>
    </message>
    <message>
        <source>ОК</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>TVeltraProgressInfo</name>
    <message>
        <source>VELTRA - Информация</source>
        <translation>VELTRA - Information</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
