#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rlv::cli {

// The language of the command line's own texts: its help, progress, results
// and failures. English unless --lang says otherwise; the settings file's
// language is the window's and does not count here.
enum class Language { kEnglish, kRussian };

void SetLanguage(Language language);
Language CurrentLanguage();
// "en" or "ru"; nullopt for anything else.
std::optional<Language> LanguageFromCode(std::string_view code);
// The window's name of the language ("english", "russian"), for the texts the
// command shows from the language file (readouts, the tracker's messages).
const char* WindowLanguageName(Language language);

// `english` in the current language: itself, or its entry of the table.
std::string Tr(std::string_view english);
// The same with "%1" to "%9" replaced by `args` (a missing argument leaves its
// mark as it stands).
std::string Tr(std::string_view english, std::initializer_list<std::string_view> args);

struct Translation {
  std::string_view english;
  std::string_view russian;
};
// The whole table.
std::span<const Translation> Translations();

}  // namespace rlv::cli
