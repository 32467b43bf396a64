// Files wineserver loads without a word although they are not in the form
// it writes: each row is the file and what wineserver saves after loading
// it. The reader's tests check the native parse and save against the rows,
// and hive_lenient_wine.sh has wineserver itself load and save each one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winereg::testing {

inline constexpr char kMachineHead[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to REGISTRY\\\\Machine\n"
    "\n"
    "#arch=win64\n";

// The time of the load the rows are parsed with: 1700000000 seconds.
inline constexpr std::int64_t kLoadTime = 0x1da1747c66d0000;
inline constexpr char16_t kBranch[] = u"REGISTRY\\Machine";

struct LenientRow {
  const char* name;
  std::string input;  // the file; after kMachineHead unless it has its own first line
  std::string saved;  // what is saved, after kMachineHead
};

inline std::string RowFile(const LenientRow& row) {
  return row.input.starts_with("WINE REGISTRY") ? row.input : kMachineHead + row.input;
}

inline const std::vector<LenientRow>& LenientRows() {
  static const char kSection[] = "[K] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  static const char kSaved[] = "\n[K] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  // A key without a time stamp takes the time of the load.
  static const char kLoaded[] = "] 1700000000\n#time=1da1747c66d0000\n";
  static const std::vector<LenientRow> rows{
      {"Crlf", "[K] 1690913106\r\n#time=1d9c4a2b3c4d5e6\r\n\"a\"=\"x\"\r\n\"b\"=hex:01,\\\r\n  02\r\n",
       std::string(kSaved) + "\"a\"=\"x\"\n\"b\"=hex:01,02\n"},
      {"LeadingBlanksAndBlanksAroundEquals",
       "  [K] 1690913106\n\t#time=1d9c4a2b3c4d5e6\n   \"a\"  =  \"x\"\n @ =dword:1\n",
       std::string(kSaved) + "@=dword:00000001\n\"a\"=\"x\"\n"},
      {"StrTag", std::string(kSection) + "\"a\"=str:\"x\"\n", std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"ShortDwords",
       std::string(kSection) + "\"a\"=dword:1\n\"b\"=dword:  ff\n\"c\"=dword:0x10\n\"d\"=dword:FFFFFFFF\n",
       std::string(kSaved) +
           "\"a\"=dword:00000001\n\"b\"=dword:000000ff\n\"c\"=dword:00000010\n\"d\"=dword:ffffffff\n"},
      {"UnsortedSectionsAndValues",
       "[b] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"z\"=\"1\"\n\"Y\"=\"2\"\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n",
       "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[b] "
       "1690913106\n#time=1d9c4a2b3c4d5e6\n\"Y\"=\"2\"\n\"z\"=\"1\"\n"},
      {"DuplicateSectionsMerge",
       "[Dup] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"x\"=\"1\"\n\"keep\"=\"k\"\n"
       "[DUP] 1699102524\n#time=1da0f1e2d3c4b5a\n\"X\"=\"3\"\n\"y\"=\"2\"\n",
       "\n[Dup] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"keep\"=\"k\"\n\"x\"=\"3\"\n\"y\"=\"2\"\n"},
      {"CommentsBlankLinesAndUnknownOptions",
       "; a comment\n#global=1\n\n" + std::string(kSection) + "   \n;; another\n#future=yes\n\"a\"=\"x\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"EmptyQuotedNameIsTheUnnamedValue", std::string(kSection) + "\"\"=\"x\"\n", std::string(kSaved) + "@=\"x\"\n"},
      {"BlanksAroundCommasShortAndUpperCaseBytes", std::string(kSection) + "\"a\"=hex:1 , 2,AB ,\n",
       std::string(kSaved) + "\"a\"=hex:01,02,ab\n"},
      {"ContinuationLinesRewrapped", std::string(kSection) + "\"a\"=hex:01,\\\n02,  \\  \n\n",
       std::string(kSaved) + "\"a\"=hex:01,02\n"},
      {"SecondsWithoutTime", "[K] 1700000000\n", "\n[K] 1700000000\n#time=1da1747c66d0000\n"},
      {"TimeWinsOverSeconds", "[K] 5\n#time=1D9C4A2B3C4D5E6\n", kSaved},
      {"ArchAfterFirstKeyIgnored", std::string(kSection) + "#arch=win32\n", kSaved},
      {"EmptyTypeNumber", std::string(kSection) + "\"a\"=hex():00\n", std::string(kSaved) + "\"a\"=hex(0):00\n"},
      {"KeyWithOnlySubkeysDropped",
       "[P] 1690913106\n#time=1d9c4a2b3c4d5e6\n[P\\\\C] 1690913106\n#time=1d9c4a2b3c4d5e6\n",
       "\n[P\\\\C] 1690913106\n#time=1d9c4a2b3c4d5e6\n"},
      {"EmptyPathElementsSkipped", "[\\\\P\\\\\\\\C\\\\] 1690913106\n#time=1d9c4a2b3c4d5e6\n",
       "\n[P\\\\C] 1690913106\n#time=1d9c4a2b3c4d5e6\n"},
      {"RawUtf8Decoded", std::string(kSection) + "\"a\"=\"caf\xc3\xa9 \xf0\x9f\x8c\x8e\"\n",
       std::string(kSaved) + "\"a\"=\"caf\\xe9 \\xd83c\\xdf0e\"\n"},
      {"InvalidUtf8Dropped",
       std::string(kSection) + "\"a\"=\"a\xff"
                               "b\xe2\x82"
                               "c\xc0\xaf"
                               "d\"\n",
       std::string(kSaved) + "\"a\"=\"abcd\"\n"},
      {"UnknownEscapesStandForThemselves", std::string(kSection) + "\"a\"=\"\\q\\]\\x\"\n",
       std::string(kSaved) + "\"a\"=\"q]x\"\n"},
      {"TrailingNulOfNameKept", std::string(kSection) + "\"n\\0\"=\"x\"\n", std::string(kSaved) + "\"n\\0\"=\"x\"\n"},
      // Lines that look like what Save writes but are not, one by one.
      {"BlankLineBetweenValues", std::string(kSection) + "\"a\"=\"x\"\n\n\"b\"=\"y\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n\"b\"=\"y\"\n"},
      {"CommentBetweenValues", std::string(kSection) + "\"a\"=\"x\"\n;\n\"b\"=\"y\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n\"b\"=\"y\"\n"},
      {"ValueBeforeTime", "[K] 1690913106\n\"a\"=\"x\"\n#time=1d9c4a2b3c4d5e6\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"BlankAfterHeader", "[K] 1690913106 \n#time=1d9c4a2b3c4d5e6\n\"a\"=\"x\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"TimeWithLeadingZero", "[K] 1690913106\n#time=01d9c4a2b3c4d5e6\n\"a\"=\"x\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"SecondsDisagreeWithTime", "[K] 1690913107\n#time=1d9c4a2b3c4d5e6\n\"a\"=\"x\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"NoNewlineAtTheEnd", std::string(kSection) + "\"a\"=\"x\"", std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"SameValueTwice", std::string(kSection) + "\"a\"=\"1\"\n\"A\"=\"2\"\n", std::string(kSaved) + "\"a\"=\"2\"\n"},
      {"UnnamedValueNotFirst", std::string(kSection) + "\"a\"=\"1\"\n@=\"2\"\n",
       std::string(kSaved) + "@=\"2\"\n\"a\"=\"1\"\n"},
      {"EscapedAscii", std::string(kSection) + "\"\\x41\"=\"\\x62\\101\"\n", std::string(kSaved) + "\"A\"=\"bA\"\n"},
      {"ShortEscapeBeforeHexDigit", std::string(kSection) + "\"a\"=\"\\xe9\\x0041\"\n",
       std::string(kSaved) + "\"a\"=\"\\x00e9A\"\n"},
      {"UpperCaseEscape", std::string(kSection) + "\"a\"=\"\\xE9\"\n", std::string(kSaved) + "\"a\"=\"\\xe9\"\n"},
      {"HexOfAString", std::string(kSection) + "\"a\"=hex(1):41,00,00,00\n\"b\"=hex(2):00,00\n",
       std::string(kSaved) + "\"a\"=\"A\"\n\"b\"=str(2):\"\"\n"},
      {"HexOfADword", std::string(kSection) + "\"a\"=hex(4):01,00,00,00\n",
       std::string(kSaved) + "\"a\"=dword:00000001\n"},
      {"NumberedBinaryTag", std::string(kSection) + "\"a\"=hex(3):01\n\"b\"=hex(0x5):02\n",
       std::string(kSaved) + "\"a\"=hex:01\n\"b\"=hex(5):02\n"},
      {"UpperCaseDwordDigits", std::string(kSection) + "\"a\"=dword:0000ABCD\n",
       std::string(kSaved) + "\"a\"=dword:0000abcd\n"},
      {"SectionAgainAfterItsSubkey",
       "[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"x\"=\"1\"\n[A\\\\B] 1690913106\n#time=1d9c4a2b3c4d5e6\n"
       "[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"y\"=\"2\"\n",
       "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"x\"=\"1\"\n\"y\"=\"2\"\n\n[A\\\\B] "
       "1690913106\n#time=1d9c4a2b3c4d5e6\n"},
      {"EmptySectionAgain",
       "[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"y\"=\"2\"\n",
       "\n[A] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"y\"=\"2\"\n"},
      // The key line: sscanf " %u" after the "]", the rest ignored.
      {"TextAfterTimeStamp", "[Software\\\\X] 1234j\n", "\n[Software\\\\X] 1234\n#time=19db1e1b4c3f500\n"},
      {"TextAfterKey", "[A]B] 12\n", std::string("\n[A") + kLoaded},
      {"TextRightAfterBracket", "[A]junk\n", std::string("\n[A") + kLoaded},
      {"NoDigitsAfterBracket", "[A] j\n", std::string("\n[A") + kLoaded},
      {"SignWithoutDigits", "[A] -\n[B] + 5\n", std::string("\n[A") + kLoaded + "\n[B" + kLoaded},
      {"SignedSeconds", "[A] +5\n[B] -5\n",
       "\n[A] 5\n#time=19db1ded8397080\n\n[B] 4294967291\n#time=236485ed2438f80\n"},
      {"SecondsInHex", "[A] 0x10\n", "\n[A] 0\n#time=19db1ded53e8000\n"},
      {"SecondsWrapAt32Bits", "[A] 99999999999999999999999\n[B] 4294967297\n",
       "\n[A] 4294967295\n#time=236485ed4a5e980\n\n[B] 1\n#time=19db1ded5d71680\n"},
      {"RootSection", "[] junk\n\"r\"=\"x\"\n[K] 1690913106\n#time=1d9c4a2b3c4d5e6\n",
       std::string("\n[") + kLoaded + "\"r\"=\"x\"\n" + kSaved},
      // Key options.
      {"TimeWithTrailingText", "[K] 5\n#time=1d9c4a2b3c4d5e6zz\n", kSaved},
      {"LinkWithMoreText", std::string(kSection) + "#linkage\n", std::string(kSaved) + "#link\n"},
      {"ClassWithoutQuote", std::string(kSection) + "#class=abc\n", kSaved},
      {"UnterminatedClass", std::string(kSection) + "#class=\"abc\n", kSaved},
      {"TextAfterClass", std::string(kSection) + "#class=\"c1\" trailing\n", std::string(kSaved) + "#class=\"c1\"\n"},
      {"MalformedClassKeepsTheEarlierOne", std::string(kSection) + "#class=\"one\"\n#class=two\n#class=\"three\n",
       std::string(kSaved) + "#class=\"one\"\n"},
      // Strings: the text after the closing quote is ignored.
      {"TextAfterString", std::string(kSection) + "\"a\"=\"abc\"def\"\n", std::string(kSaved) + "\"a\"=\"abc\"\n"},
      {"TextAfterTypedString", std::string(kSection) + "\"a\"=str(2):\"e\"junk\n\"b\"=str(7):\"m\\0\" \"\n",
       std::string(kSaved) + "\"a\"=str(2):\"e\"\n\"b\"=str(7):\"m\\0\"\n"},
      // Dwords as strtoul reads them (64 bits here), kept to 32 bits.
      {"EmptyDword", std::string(kSection) + "\"a\"=dword:\n", std::string(kSaved) + "\"a\"=dword:00000000\n"},
      {"BadDword", std::string(kSection) + "\"a\"=dword:xyz\n\"b\"=dword:0x\n",
       std::string(kSaved) + "\"a\"=dword:00000000\n\"b\"=dword:00000000\n"},
      {"NegativeDword", std::string(kSection) + "\"a\"=dword:-1\n\"b\"=dword:  -0x10\n",
       std::string(kSaved) + "\"a\"=dword:ffffffff\n\"b\"=dword:fffffff0\n"},
      {"DwordTooLong", std::string(kSection) + "\"a\"=dword:123456789\n\"b\"=dword:ffffffffffffffffffff\n",
       std::string(kSaved) + "\"a\"=dword:23456789\n\"b\"=dword:ffffffff\n"},
      {"TextAfterDword", std::string(kSection) + "\"a\"=dword:0000001g\n\"b\"=dword:12 34\n",
       std::string(kSaved) + "\"a\"=dword:00000001\n\"b\"=dword:00000012\n"},
      // Hex data.
      {"BytesWithoutCommas", std::string(kSection) + "\"a\"=hex:1 2\t3\n",
       std::string(kSaved) + "\"a\"=hex:01,02,03\n"},
      {"ByteReadIn32Bits", std::string(kSection) + "\"a\"=hex:100000000,1ff00000001,0x2\n",
       std::string(kSaved) + "\"a\"=hex:00,01,02\n"},
      {"TextAfterBackslash", std::string(kSection) + "\"a\"=hex:01,\\ 02\n  03\n",
       std::string(kSaved) + "\"a\"=hex:01,03\n"},
      {"IndentedContinuationAfterBackslashAndText", std::string(kSection) + "\"a\"=hex:01,\\junk\n\t 02 ,\n",
       std::string(kSaved) + "\"a\"=hex:01,02\n"},
      {"TypeNumbersAsStrtoulReadsThem",
       std::string(kSection) + "\"a\"=hex(100000002):01,02\n\"b\"=hex(-1):\n\"c\"=hex( 0x7):61,00,00,00\n",
       std::string(kSaved) + "\"a\"=hex(2):01,02\n\"b\"=hex(ffffffff):\n\"c\"=str(7):\"a\"\n"},
      // Values and keys given again.
      {"ValueAgainWithAnotherType", std::string(kSection) + "\"a\"=\"x\"\n\"A\"=dword:5\n\"a\"=hex:01\n",
       std::string(kSaved) + "\"a\"=hex:01\n"},
      // Names beyond ASCII that differ in case only: one key or value where
      // wineserver's lower-case table folds them together (the first
      // spelling kept), in the order of their lower case.
      {"LettersBeyondAsciiFold",
       "[\\xc4] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"\\xe4\"=\"1\"\n\"\\xc4\"=\"2\"\n\"\\x416\"=\"3\"\n"
       "\"\\x436\"=\"4\"\n\"\\x3a3\"=\"5\"\n\"\\x3c3\"=\"6\"\n\"\\x3c2\"=\"7\"\n"
       "[\\xe4] 1699102524\n#time=1da0f1e2d3c4b5a\n\"x\"=\"8\"\n"
       "[\\x436] 1690913106\n#time=1d9c4a2b3c4d5e6\n[\\x416] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"y\"=\"9\"\n",
       "\n[\\xc4] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"x\"=\"8\"\n\"\\xe4\"=\"2\"\n\"\\x3c2\"=\"7\"\n\"\\x3a3\"=\"6\"\n"
       "\"\\x416\"=\"4\"\n\n[\\x436] 1690913106\n#time=1d9c4a2b3c4d5e6\n\"y\"=\"9\"\n"},
      // Mappings one way only, title case, and letters with no pair in the
      // table: each a name of its own.
      {"OneWayMappingsStayApart",
       std::string(kSection) +
           "\"i\"=\"1\"\n\"\\x130\"=\"2\"\n\"I\"=\"3\"\n\"\\x131\"=\"4\"\n\"K\"=\"5\"\n\"\\x212a\"=\"6\"\n"
           "\"\\x3a9\"=\"7\"\n\"\\x2126\"=\"8\"\n\"\\x3c9\"=\"9\"\n\"\\x1c4\"=\"10\"\n\"\\x1c5\"=\"11\"\n"
           "\"\\x1c6\"=\"12\"\n\"s\"=\"13\"\n\"\\x17f\"=\"14\"\n\"\\xdf\"=\"15\"\n\"\\x1e9e\"=\"16\"\n",
       std::string(kSaved) +
           "\"i\"=\"3\"\n\"K\"=\"5\"\n\"s\"=\"13\"\n\"\\xdf\"=\"15\"\n\"\\x130\"=\"2\"\n\"\\x131\"=\"4\"\n"
           "\"\\x17f\"=\"14\"\n\"\\x1c5\"=\"11\"\n\"\\x1c4\"=\"12\"\n\"\\x3a9\"=\"9\"\n\"\\x1e9e\"=\"16\"\n"
           "\"\\x2126\"=\"8\"\n\"\\x212a\"=\"6\"\n"},
      // Pairs of Unicode 14 (folded) and of Unicode 16 (which the table, of
      // Unicode 15, does not fold, whatever the host's C library knows).
      {"NewerLetters",
       "[\\x1c89] 1690913106\n#time=1d9c4a2b3c4d5e6\n[\\x1c8a] 1690913106\n#time=1d9c4a2b3c4d5e6\n"
       "[\\x2c2f] 1690913106\n#time=1d9c4a2b3c4d5e6\n[\\x2c5f] 1690913106\n#time=1d9c4a2b3c4d5e6\n" +
           std::string(kSection) +
           "\"\\xa7c0\"=\"1\"\n\"\\xa7c1\"=\"2\"\n\"\\xa7d0\"=\"3\"\n\"\\xa7d1\"=\"4\"\n\"\\xa7cb\"=\"5\"\n"
           "\"\\x264\"=\"6\"\n\"\\xa7cc\"=\"7\"\n\"\\xa7cd\"=\"8\"\n\"\\xa7da\"=\"9\"\n\"\\xa7db\"=\"10\"\n"
           "\"\\xa7dc\"=\"11\"\n\"\\x19b\"=\"12\"\n",
       std::string(kSaved) +
           "\"\\x19b\"=\"12\"\n\"\\x264\"=\"6\"\n\"\\xa7c0\"=\"2\"\n\"\\xa7cb\"=\"5\"\n\"\\xa7cc\"=\"7\"\n"
           "\"\\xa7cd\"=\"8\"\n\"\\xa7d0\"=\"4\"\n\"\\xa7da\"=\"9\"\n\"\\xa7db\"=\"10\"\n\"\\xa7dc\"=\"11\"\n"
           "\n[\\x1c89] 1690913106\n#time=1d9c4a2b3c4d5e6\n\n[\\x1c8a] 1690913106\n#time=1d9c4a2b3c4d5e6\n"
           "\n[\\x2c2f] 1690913106\n#time=1d9c4a2b3c4d5e6\n"},
      {"DoubledCarriageReturns",
       "[K] 1690913106\r\r\n#time=1d9c4a2b3c4d5e6\r\r\n\"a\"=\"x\"\r\r\n\"b\"=hex:01,\\\r\r\n  02\r\r\n",
       std::string(kSaved) + "\"a\"=\"x\"\n\"b\"=hex:01,02\n"},
      // The header: wineserver writes its own second line, whatever the
      // file's says, also for a file whose sections are in its form.
      {"OtherBranchNamed",
       "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\.Default\n\n#arch=win64\n\n" +
           std::string(kSection) + "\"a\"=\"x\"\n",
       std::string(kSaved) + "\"a\"=\"x\"\n"},
      {"BranchLineWithMoreText",
       "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine junk\n\n#arch=win64\n\n" +
           std::string(kSection),
       kSaved},
      {"OtherSecondLine", "WINE REGISTRY Version 2\n;; saved by hand\n\n#arch=win64\n\n" + std::string(kSection),
       kSaved},
      {"NoSecondLine", "WINE REGISTRY Version 2\n#arch=win64\n\n" + std::string(kSection), kSaved},
      {"IndentedHeaderOptionsAndComments",
       "WINE REGISTRY Version 2\r\n  ;; All keys relative to REGISTRY\\\\Other\r\n\t#unknown=1\r\n ; note\r\n"
       "  #arch=win64\r\n#arch=win64\n" +
           std::string(kSection),
       kSaved},
  };
  return rows;
}

}  // namespace winereg::testing
