<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>ui::ComtrakForm</name>
    <message>
        <source>Программа для работы с модулем камеры по RS-232</source>
        <translation>Camera module program over RS-232</translation>
    </message>
    <message>
        <source>Порт компьютера</source>
        <translation>PC port</translation>
    </message>
    <message>
        <source>Скорость передачи</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>Приём кадра</source>
        <translation>Frame reception</translation>
    </message>
    <message>
        <source>Такого устройства нет. Выберите другой порт.</source>
        <translation>There is no such device. Choose another port.</translation>
    </message>
    <message>
        <source>Нет прав на устройство: добавьте пользователя в группу dialout (sudo adduser $USER dialout) и войдите в систему заново.</source>
        <translation>No permission for the device: add the user to the dialout group (sudo adduser $USER dialout) and log in again.</translation>
    </message>
    <message>
        <source>Порт занят другой программой. Закройте её или выберите другой порт.</source>
        <translation>The port is in use by another program. Close it or choose another port.</translation>
    </message>
    <message>
        <source>Порт не принял настройки линии.</source>
        <translation>The port did not accept the line settings.</translation>
    </message>
    <message>
        <source>Выберите другой порт.</source>
        <translation>Choose another port.</translation>
    </message>
    <message>
        <source>Настройка UART</source>
        <translation>UART settings</translation>
    </message>
    <message>
        <source>Считать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Записать</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Модуль не ответил на запрос скорости на %1.</source>
        <translation>The module did not answer the speed query on %1.</translation>
    </message>
    <message>
        <source>«%1» — не скорость из списка. Модулю ничего не отправлено, скорость линии прежняя (%2).</source>
        <translation>“%1” is not a speed from the list. Nothing was sent to the module; the line keeps its speed (%2).</translation>
    </message>
    <message>
        <source>Модуль переключён на %1, но порт %2 не принял эту скорость и остался на %3. Нажмите «Сброс модуля», чтобы вернуть обоих на 2400.</source>
        <translation>The module was switched to %1, but port %2 did not accept that speed and stayed at %3. Press “Reset module” to bring both back to 2400.</translation>
    </message>
    <message>
        <source>Ошибка линии.</source>
        <translation>Line error.</translation>
    </message>
    <message>
        <source>Буфер кадра заполнен (%1 байт): принятые сверх этого байты отброшены. Очистите буфер перед следующим кадром.</source>
        <translation>The frame buffer is full (%1 bytes): the bytes received beyond it were dropped. Clear the buffer before the next frame.</translation>
    </message>
    <message>
        <source>Не удалось открыть %1 (%2): %3.
%4</source>
        <translation>Could not open %1 (%2): %3.
%4</translation>
    </message>
</context>
<context>
    <name>ui::Form1</name>
    <message>
        <source>Введите имя файла для сохранения картинки</source>
        <translation>Enter the name of the file to save the picture in</translation>
    </message>
    <message>
        <source>Программа отладки на ПК</source>
        <translation>PC debugging program</translation>
    </message>
    <message>
        <source>Записать кадр в файл</source>
        <translation>Save frame to file</translation>
    </message>
    <message>
        <source>Просмотреть кадр</source>
        <translation>View frame</translation>
    </message>
    <message>
        <source>Связь с модулем</source>
        <translation>Link with the module</translation>
    </message>
    <message>
        <source>Трасса обмена</source>
        <translation>Exchange trace</translation>
    </message>
    <message>
        <source> — НЕТ СВЯЗИ</source>
        <translation> — NO LINK</translation>
    </message>
    <message>
        <source>Модуль не ответил</source>
        <translation>The module did not answer</translation>
    </message>
    <message>
        <source>Модуль камеры не ответил на запрос. Значения в окне не изменены.</source>
        <translation>The camera module did not answer the query. The values in the window are unchanged.</translation>
    </message>
    <message>
        <source>Кадр не показан:
%1</source>
        <translation>Frame not shown:
%1</translation>
    </message>
    <message>
        <source>Принято байт</source>
        <translation>Bytes received</translation>
    </message>
    <message>
        <source>Модуль камеры встраиваемый</source>
        <translation>Embedded camera module</translation>
    </message>
    <message>
        <source>Цикл</source>
        <translation>Cycle</translation>
    </message>
    <message>
        <source>Сформировать кадр</source>
        <translation>Capture frame</translation>
    </message>
    <message>
        <source>Считать кадр</source>
        <translation>Read frame</translation>
    </message>
    <message>
        <source>Сброс модуля</source>
        <translation>Reset module</translation>
    </message>
    <message>
        <source>Очистить буфер</source>
        <translation>Clear buffer</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>линия оборвалась (устройство отключено)</source>
        <translation>the line broke off (the device was unplugged)</translation>
    </message>
    <message>
        <source>линия не затихла перед запросом</source>
        <translation>the line did not go quiet before the query</translation>
    </message>
    <message>
        <source>кадр на линии не закончился за отведённое время</source>
        <translation>the frame on the line did not end in the time allowed</translation>
    </message>
    <message>
        <source>пришло байт сверх ответа: %1, ответ под сомнением</source>
        <translation>%1 bytes came beyond the answer; the answer is in doubt</translation>
    </message>
    <message>
        <source>порт не открыт</source>
        <translation>the port is not open</translation>
    </message>
    <message>
        <source>ошибка порта</source>
        <translation>port error</translation>
    </message>
    <message>
        <source>нет ответа за отведённое время</source>
        <translation>no answer in the time allowed</translation>
    </message>
    <message>
        <source>на линии посторонние байты</source>
        <translation>stray bytes on the line</translation>
    </message>
    <message>
        <source>порт не принял настройку</source>
        <translation>the port did not accept the setting</translation>
    </message>
    <message>
        <source>идёт другая операция с модулем</source>
        <translation>another operation with the module is under way</translation>
    </message>
    <message>
        <source>Сообщение системы: %1</source>
        <translation>System message: %1</translation>
    </message>
    <message>
        <source>Связь с модулем прервана, операция не выполнена.
%1</source>
        <translation>The link with the module is broken; the operation was not done.
%1</translation>
    </message>
    <message>
        <source>Порт компьютера </source>
        <translation>PC port </translation>
    </message>
    <message>
        <source>копия кадра не записана</source>
        <translation>the frame&apos;s copy was not written</translation>
    </message>
    <message>
        <source>Кадр не показан: не удалось записать его временную копию.
%1</source>
        <translation>Frame not shown: its temporary copy could not be written.
%1</translation>
    </message>
    <message>
        <source>буфер пуст</source>
        <translation>the buffer is empty</translation>
    </message>
    <message>
        <source>%1 байт не читаются как изображение</source>
        <translation>%1 bytes do not read as a picture</translation>
    </message>
    <message>
        <source>Кадр не показан: принятые байты не читаются как изображение.</source>
        <translation>Frame not shown: the bytes received do not read as a picture.</translation>
    </message>
    <message>
        <source>Не удалось записать кадр в файл %1: %2</source>
        <translation>Could not save the frame to the file %1: %2</translation>
    </message>
    <message>
        <source>Трасса обмена не записывается в %1: %2.
Потеряно обменов: %3. Программа работает дальше; число потерянных обменов будет выведено при выходе.</source>
        <translation>The exchange trace cannot be written to %1: %2.
Exchanges lost: %3. The program goes on; the number of exchanges lost will be printed at the exit.</translation>
    </message>
</context>
<context>
    <name>ui::SettingsPanel</name>
    <message>
        <source>Цветной</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>Черно-белый</source>
        <translation>Monochrome</translation>
    </message>
    <message>
        <source>Сжатие</source>
        <translation>Compression</translation>
    </message>
    <message>
        <source>Настройка камеры</source>
        <translation>Camera settings</translation>
    </message>
    <message>
        <source>Считать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Цветность</source>
        <translation>Colour mode</translation>
    </message>
    <message>
        <source>Яркость</source>
        <translation>Bright.</translation>
    </message>
    <message>
        <source>Размер кадра</source>
        <translation>Frame size</translation>
    </message>
    <message>
        <source>Произвольный</source>
        <translation>Custom</translation>
    </message>
    <message>
        <source>Записать</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>Тестовый режим</source>
        <translation>Test mode</translation>
    </message>
    <message>
        <source>Сжатие &quot;%1&quot; не записано: уровень должен быть от 0 до %2 (в списке 0–%3).</source>
        <translation>Compression &quot;%1&quot; was not written: the level must be from 0 to %2 (0–%3 in the list).</translation>
    </message>
</context>
<context>
    <name>ui::SpiForm</name>
    <message>
        <source>Программа для работы с модулем камеры через LPT</source>
        <translation>Camera module program over LPT</translation>
    </message>
    <message>
        <source>Запись выводов порта</source>
        <translation>Port pin recording</translation>
    </message>
    <message>
        <source>Статус камеры</source>
        <translation>Camera status</translation>
    </message>
    <message>
        <source>Настройка SPI</source>
        <translation>SPI settings</translation>
    </message>
    <message>
        <source>Регистр SPI</source>
        <translation>SPI mode</translation>
    </message>
    <message>
        <source>Считать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Запись выводов порта в %1 остановлена: %2.
Файл сохранён до этого места; программа работает дальше.</source>
        <translation>Recording the port&apos;s pins to %1 stopped: %2.
The file holds everything up to there; the program goes on.</translation>
    </message>
</context>
<context>
    <name>ui::StatusIndicator</name>
    <message>
        <source>НЕТ СВЯЗИ</source>
        <translation>NO LINK</translation>
    </message>
</context>
</TS>
