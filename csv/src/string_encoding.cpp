#include "csv/string_encoding.hpp"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "encoding_table.hpp"

namespace csv {
namespace detail {
namespace {

// Codes above 0x80000000 are the classic framework's numbering of its other character sets.
constexpr EncodingEntry kEncodings[] = {
    {kEncodingASCII, "ANSI_X3.4-1968", "ASCII"},
    {3, "EUC-JP", "Japanese EUC"},
    {kEncodingUTF8, "UTF-8", "UTF-8"},
    {kEncodingISOLatin1, "ISO-8859-1", "ISO Latin 1"},
    {8, "SHIFT_JIS", "Shift JIS"},
    {9, "ISO-8859-2", "ISO Latin 2"},
    {11, "CP1251", "Windows-1251"},
    {12, "CP1252", "Windows-1252"},
    {13, "CP1253", "Windows-1253"},
    {14, "CP1254", "Windows-1254"},
    {15, "CP1250", "Windows-1250"},
    {21, "ISO-2022-JP", "ISO-2022-JP"},
    {kEncodingMacOSRoman, "MACINTOSH", "Mac OS Roman"},
    {kEncodingUTF16BE, "UTF-16BE", "UTF-16 big-endian"},
    {kEncodingUTF16LE, "UTF-16LE", "UTF-16 little-endian"},
    {kEncodingUTF32BE, "UTF-32BE", "UTF-32 big-endian"},
    {kEncodingUTF32LE, "UTF-32LE", "UTF-32 little-endian"},
    {0x80000203, "ISO-8859-3", "ISO Latin 3"},
    {0x80000204, "ISO-8859-4", "ISO Latin 4"},
    {0x80000205, "ISO-8859-5", "ISO Latin/Cyrillic"},
    {0x80000206, "ISO-8859-6", "ISO Latin/Arabic"},
    {0x80000207, "ISO-8859-7", "ISO Latin/Greek"},
    {0x80000208, "ISO-8859-8", "ISO Latin/Hebrew"},
    {0x80000209, "ISO-8859-9", "ISO Latin 5"},
    {0x8000020A, "ISO-8859-10", "ISO Latin 6"},
    {0x8000020B, "TIS-620", "ISO Latin/Thai"},
    {0x8000020D, "ISO-8859-13", "ISO Latin 7"},
    {0x8000020E, "ISO-8859-14", "ISO Latin 8"},
    {0x8000020F, "ISO-8859-15", "ISO Latin 9"},
    {0x80000210, "ISO-8859-16", "ISO Latin 10"},
    {0x80000505, "CP1255", "Windows-1255"},
    {0x80000506, "CP1256", "Windows-1256"},
    {0x80000507, "CP1257", "Windows-1257"},
    {0x80000508, "CP1258", "Windows-1258"},
    {0x80000631, "GBK", "GBK"},
    {0x80000632, "GB18030", "GB 18030"},
    {0x80000930, "EUC-CN", "Simplified Chinese EUC"},
    {0x80000931, "EUC-TW", "Traditional Chinese EUC"},
    {0x80000940, "EUC-KR", "Korean EUC"},
    {0x80000A02, "KOI8-R", "KOI8-R"},
    {0x80000A03, "BIG5", "Big 5"},
    {0x80000A06, "BIG5-HKSCS", "Big 5 HKSCS"},
    {0x80000A08, "KOI8-U", "KOI8-U"},
};

std::string normalizedCharset(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
  }
  return out;
}

// The character-set part of a locale name such as "de_DE.UTF-8@euro".
std::string_view charsetOfLocaleName(std::string_view name) {
  const std::size_t dot = name.find('.');
  if (dot == std::string_view::npos) return {};
  std::string_view charset = name.substr(dot + 1);
  return charset.substr(0, charset.find('@'));
}

}  // namespace

const EncodingEntry* findEncoding(StringEncoding code) {
  for (const EncodingEntry& entry : kEncodings) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}

const EncodingEntry* findEncodingByCharset(std::string_view charset) {
  const std::string wanted = normalizedCharset(charset);
  if (wanted.empty()) return nullptr;
  // Other spellings that locales use for the same character sets.
  if (wanted == "ascii" || wanted == "usascii") return findEncoding(kEncodingASCII);
  if (wanted == "gb2312") return findEncoding(0x80000930);
  if (wanted == "sjis") return findEncoding(8);
  for (const EncodingEntry& entry : kEncodings) {
    if (normalizedCharset(entry.iconvName) == wanted) return &entry;
  }
  return nullptr;
}

}  // namespace detail

StringEncoding systemStringEncoding() {
  std::string charset;
  // The user's locale from the environment, without touching the process's global locale.
  if (locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    charset = nl_langinfo_l(CODESET, user);
    freelocale(user);
  } else {
    // The named locale is not installed: its name still says which character set it means.
    for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
      const char* value = std::getenv(variable);
      if (value != nullptr && *value != '\0') {
        charset = detail::charsetOfLocaleName(value);
        break;
      }
    }
  }
  const detail::EncodingEntry* entry = detail::findEncodingByCharset(charset);
  return entry != nullptr ? entry->code : kEncodingUTF8;
}

}  // namespace csv
