#include "cli/Texts.h"

#include <algorithm>
#include <atomic>

namespace rlv::cli {

namespace {

std::atomic<Language> g_language{Language::kEnglish};

// Every text of the command line that a user reads, English first.
constexpr Translation kTable[] = {
    // Help.
    {"usage:", "использование:"},
    {"Exit status:", "Код завершения:"},
    {"COMMAND --help for its options", "COMMAND --help: параметры команды"},
    {"Identifies the tracker and prints its device and navigation records, as text or JSON.",
     "Опознаёт трекер и выводит его записи о приборе и навигации, текстом или в JSON."},
    {"Reads the tracker's configuration into a configuration file.",
     "Считывает конфигурацию трекера в файл конфигурации."},
    {"Writes a configuration (a .fcg file or its text) to the tracker and verifies it by reading it back.",
     "Записывает конфигурацию (файл .fcg или её текст) в трекер и проверяет её обратным чтением."},
    {"Reads and keeps the configuration, then updates the firmware through the bootloader.",
     "Считывает и сохраняет конфигурацию, затем обновляет прошивку через загрузчик."},
    {"Writes one archive for support: device and navigation records, configuration, event and\n"
     "  fault logs, traffic trace, version and settings (without passwords).",
     "Записывает один архив для поддержки: записи о приборе и навигации, конфигурацию, журналы\n"
     "  событий и сбоев, трассу обмена, версию и настройки (без паролей)."},
    {"Prints the readable text of a configuration file.", "Выводит читаемый текст файла конфигурации."},
    {"Makes a configuration file from a configuration text.", "Создаёт файл конфигурации из её текста."},
    {"Prints the fields that differ between two configurations (.fcg files or texts), old -> new.",
     "Выводит поля, которыми различаются две конфигурации (файлы .fcg или тексты), старое -> новое."},
    {"the tracker's serial port, or demo; repeated for several trackers,\n"
     "                 all for every tracker present",
     "последовательный порт трекера или demo; повторяется для нескольких\n"
     "                 трекеров, all для всех подключённых"},
    {"the tracker's configuration password, when it asks for one",
     "пароль конфигурации трекера, если он его запрашивает"},
    {"the data folder (settings, remembered passwords, history)",
     "папка данных (настройки, запомненные пароли, история)"},
    {"the fast link: complete answers are read as they arrive, without\n"
     "                 the quiet wait (also FastLink=1 in config.ini [Settings])",
     "быстрый обмен: полные ответы читаются сразу, без ожидания тишины\n"
     "                 (также FastLink=1 в config.ini [Settings])"},
    {"the file written (a failed command leaves none)",
     "записываемый файл (неудачная команда его не оставляет)"},
    {"one JSON object instead of text (keys in the README and the man page)",
     "один объект JSON вместо текста (ключи описаны в README и man)"},
    {"the language of the messages: en (default) or ru", "язык сообщений: en (по умолчанию) или ru"},
    {"this text", "этот текст"},
    {"success", "успешно"},
    {"the configurations differ", "конфигурации различаются"},
    {"usage error", "ошибка в командной строке"},
    {"no tracker: none answered on the port within 10 s, the port does not exist,\n"
     "     or it may not be opened",
     "нет трекера: на порту никто не ответил за 10 с, порта нет или его нельзя\n"
     "     открыть"},
    {"password refused, or asked for and not given", "пароль отклонён или запрошен и не указан"},
    {"transfer failed or timed out", "обмен не удался или не завершился вовремя"},
    {"bad or unreadable file, or no data folder", "неверный или нечитаемый файл, или нет папки данных"},
    {"firmware update failed", "обновление прошивки не удалось"},
    {"the output could not be written (full disk, closed pipe)",
     "вывод не удалось записать (диск заполнен, канал закрыт)"},
    {"PORT is a serial port (for example /dev/ttyACM0) or \"demo\", the simulated tracker.",
     "PORT: последовательный порт (например, /dev/ttyACM0) или \"demo\", имитатор трекера."},
    {"Several trackers at once: --port A --port B ..., or --port all for every tracker present;\n"
     "each gets its own session and progress line, then a table of port, IMEI, result and time.\n"
     "The exit status is the highest of the trackers'. An output file gets the tracker's IMEI\n"
     "(else its port) before its extension: --out a.fcg gives a-866000000000001.fcg.",
     "Несколько трекеров сразу: --port A --port B ... или --port all для всех подключённых;\n"
     "у каждого свой сеанс и строка хода работы, затем таблица: порт, IMEI, результат и время.\n"
     "Код завершения: наибольший из кодов трекеров. Выходной файл получает IMEI трекера\n"
     "(иначе имя порта) перед расширением: --out a.fcg даёт a-866000000000001.fcg."},
    // Usage errors.
    {"no command", "не указана команда"},
    {"unknown command %1", "неизвестная команда %1"},
    {"takes no %1", "не принимает %1"},
    {"%1 needs a value", "%1 требует значения"},
    {"the port %1 is given twice", "порт %1 указан дважды"},
    {"the password is a number 0..65535, not %1", "пароль: число 0..65535, а не %1"},
    {"--lang takes en or ru, not %1", "--lang принимает en или ru, а не %1"},
    {"unknown option %1", "неизвестный параметр %1"},
    {"takes no file, not %1", "не принимает файлов, а получено %1"},
    {"takes 1 file, not %1", "принимает 1 файл, а получено %1"},
    {"takes 2 files, not %1", "принимает 2 файла, а получено %1"},
    {"needs --port PORT", "требует --port PORT"},
    {"--port all stands alone", "--port all указывается без других портов"},
    {"needs --out FILE", "требует --out FILE"},
    {"(%1 --help for its options)", "(%1 --help: параметры команды)"},
    // Files and output.
    {"cannot read %1: %2", "не удалось прочитать %1: %2"},
    {"cannot write %1: %2", "не удалось записать %1: %2"},
    {"written %1", "записан %1"},
    {"the output could not be written", "вывод не удалось записать"},
    {"needs a tracker", "нужен трекер"},
    {"cannot create the data folder %1", "не удалось создать папку данных %1"},
    // The tracker.
    {"waiting for the tracker on %1", "ожидание трекера на %1"},
    {"no tracker answered on %1 within 10 s", "ни один трекер не ответил на %1 за 10 с"},
    {"cannot open %1: %2", "не удалось открыть %1: %2"},
    {"no tracker: the port %1 does not exist", "нет трекера: порта %1 не существует"},
    {"no tracker: none is plugged in", "нет трекера: ни один не подключён"},
    {"connected: %1", "подключён: %1"},
    {"reading the configuration", "чтение конфигурации"},
    {"writing the configuration", "запись конфигурации"},
    {"%1 timed out", "%1: время ожидания истекло"},
    {"%1 failed: the tracker went away", "%1: не удалось, трекер отключился"},
    {"%1 failed: %2", "%1: не удалось: %2"},
    {"%1 failed", "%1: не удалось"},
    {"%1 failed: the tracker keeps asking for the password",
     "%1: не удалось, трекер снова и снова просит пароль"},
    {"the tracker asks for its password: give --password N",
     "трекер запрашивает пароль: укажите --password N"},
    {"the tracker refused the password", "трекер отклонил пароль"},
    {"sending the password", "отправка пароля"},
    {"no answer to the password", "нет ответа на пароль"},
    {"the configuration does not build: %1", "конфигурацию не удалось собрать: %1"},
    {"verifying", "проверка"},
    {"the tracker holds another configuration than the one written: %1",
     "в трекере не та конфигурация, что записана: %1"},
    {"%1: not a firmware image for this tracker (%2)", "%1: не образ прошивки этого трекера (%2)"},
    {"updating the firmware", "обновление прошивки"},
    {"firmware %1%", "прошивка %1%"},
    {"the firmware update did not start: %1", "обновление прошивки не началось: %1"},
    {"the firmware update timed out", "обновление прошивки не завершилось вовремя"},
    {"the firmware update failed: %1", "обновление прошивки не удалось: %1"},
    {"the tracker did not come back after the firmware update",
     "трекер не вернулся после обновления прошивки"},
    // Results.
    {"no navigation record", "нет записи навигации"},
    {"read %1 from %2", "считан %1 с %2"},
    {"changed %1", "изменено %1"},
    {"written %1 to %2 and verified", "записан %1 в %2 и проверен"},
    {"flashed %1 to %2: %3", "прошит %1 в %2: %3"},
    {"bundle %1 from %2", "архив %1 с %2"},
    {"port", "порт"},
    {"result", "результат"},
    {"time", "время"},
    {"ok", "успешно"},
    {"failed (%1)", "ошибка (%1)"},
    {"the port does not exist", "порта не существует"},
    {"%1 s", "%1 с"},
};

}  // namespace

void SetLanguage(Language language) {
  g_language = language;
}

Language CurrentLanguage() {
  return g_language;
}

std::optional<Language> LanguageFromCode(std::string_view code) {
  if (code == "en") return Language::kEnglish;
  if (code == "ru") return Language::kRussian;
  return std::nullopt;
}

const char* WindowLanguageName(Language language) {
  return language == Language::kRussian ? "russian" : "english";
}

std::string Tr(std::string_view english) {
  if (g_language == Language::kRussian) {
    const auto* entry = std::find_if(std::begin(kTable), std::end(kTable),
                                     [&](const Translation& t) { return t.english == english; });
    if (entry != std::end(kTable)) return std::string(entry->russian);
  }
  return std::string(english);
}

std::string Tr(std::string_view english, std::initializer_list<std::string_view> args) {
  const std::string text = Tr(english);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (text[i] == '%' && next >= '1' && next <= '9' && static_cast<size_t>(next - '1') < args.size()) {
      out += *(args.begin() + (next - '1'));
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::span<const Translation> Translations() {
  return kTable;
}

}  // namespace rlv::cli
