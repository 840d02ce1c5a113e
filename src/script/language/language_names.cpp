#include "script/language/language_names.h"

#include <array>
#include <utility>

#include "common/text.h"

namespace kem {
namespace {

// The identifiers with the names the language files use ("Portugese" as spelled there).
constexpr std::array<std::pair<int, std::string_view>, 35> kLanguages{{
    {1025, "Arabic"},           {1027, "Catalan"},    {1028, "Chinese (Taiwan)"},
    {2052, "Chinese (PRC)"},    {1029, "Czech"},      {1030, "Danish"},
    {1031, "German"},           {1032, "Greek"},      {1033, "English"},
    {3082, "Spanish"},          {1061, "Estonian"},   {1035, "Finnish"},
    {1036, "French"},           {1037, "Hebrew"},     {1038, "Hungarian"},
    {1040, "Italian"},          {1041, "Japanese"},   {1042, "Korean"},
    {1063, "Lithuanian"},       {1062, "Latvian"},    {1043, "Dutch"},
    {1044, "Norwegian"},        {1045, "Polish"},     {1046, "Portugese (Brazil)"},
    {2070, "Portugese (Portugal)"}, {1048, "Romanian"}, {1049, "Russian"},
    {1050, "Croatian"},         {1051, "Slovak"},     {1053, "Swedish"},
    {1054, "Thai"},             {1055, "Turkish"},    {1060, "Slovenian"},
    {1066, "Vietnamese"},       {1069, "Basque"},
}};

}  // namespace

std::string TableLanguageName(int id) {
  for (const auto& [i, name] : kLanguages)
    if (i == id) return std::string(name);
  return {};
}

int TableLanguageId(std::string_view name) {
  for (const auto& [i, n] : kLanguages)
    if (SameText(n, name)) return i;
  return 1033;
}

std::string LanguageNameOf(int id, const EnglishLanguageNameLookup& englishName) {
  if (std::string name = TableLanguageName(id); !name.empty()) return name;
  if (englishName) {
    if (std::string name = TableLanguageName(TableLanguageId(englishName(id))); !name.empty()) return name;
  }
  return "English";
}

int LocaleNumber(std::string_view hexText) {
  if (hexText.empty() || hexText.size() > 7) return 0;
  int value = 0;
  for (char c : hexText) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return 0;
    value = value * 16 + d;
  }
  return value;
}

}  // namespace kem
