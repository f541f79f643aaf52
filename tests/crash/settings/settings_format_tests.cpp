// The settings record and the readable settings file: writer and parser
// against each other and against hand-made bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crash/settings/kx_cipher.h"
#include "crash/settings/settings_defaults.h"
#include "crash/settings/settings_file.h"
#include "crash/settings/settings_record.h"

namespace kestrix {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Prefix() { return Bytes(kRecordPrefix, kRecordPrefix + kRecordPrefixSize); }

void AddName(Bytes& b, const std::string& name, uint8_t type) {
  b.push_back(static_cast<unsigned char>(name.size()));
  b.insert(b.end(), name.begin(), name.end());
  b.push_back(type);
}

TRecordProperty Text(const std::string& name, const std::string& value, uint8_t type = 0) {
  TRecordProperty p;
  p.name = name;
  p.kind = pkText;
  p.textValue = value;
  p.valueType = type;
  return p;
}

TRecordProperty Int(const std::string& name, int32_t value, uint8_t type = 0) {
  TRecordProperty p;
  p.name = name;
  p.kind = pkInteger;
  p.intValue = value;
  p.valueType = type;
  return p;
}

TRecordProperty Bool(const std::string& name, bool value) {
  TRecordProperty p;
  p.name = name;
  p.kind = pkBoolean;
  p.boolValue = value;
  return p;
}

TEST(SettingsRecord, PrefixIsTheComponentHeader) {
  const char expected[] = "TPF0\x08TKestrix\x07Kestrix";
  ASSERT_EQ(kRecordPrefixSize, 21u);
  EXPECT_EQ(std::memcmp(kRecordPrefix, expected, 21), 0);
}

TEST(SettingsRecord, EveryValueTypeRoundTrips) {
  std::string longText(300, 'x');
  std::vector<TRecordProperty> in = {
      Int("I8", -128, vaInt8),         Int("I16", -32768, vaInt16),
      Int("I32", INT32_MIN, vaInt32),  Int("I32max", INT32_MAX),
      Text("S", "short"),              Text("L", longText),
      Bool("F", false),                Bool("T", true),
      Text("W", "caf\xC3\xA9 \xE2\x82\xAC", vaWString),  // "café €"
      Text("Empty", ""),
  };
  Bytes record = WriteSettingsRecord(in);
  // Exact layout of the first entry after the prefix.
  ASSERT_GT(record.size(), 26u);
  EXPECT_EQ(record[21], 2);
  EXPECT_EQ(record[22], 'I');
  EXPECT_EQ(record[24], vaInt8);
  EXPECT_EQ(record[25], 0x80);
  EXPECT_EQ(record.back(), 0);

  TRecordParseResult out = ParseSettingsRecord(record.data(), record.size());
  ASSERT_EQ(out.status, TRecordStatus::Ok);
  ASSERT_EQ(out.properties.size(), in.size());
  const uint8_t types[] = {vaInt8, vaInt16, vaInt32, vaInt32, vaString,
                           vaLString, vaFalse, vaTrue, vaWString, vaString};
  for (size_t i = 0; i < in.size(); ++i) {
    SCOPED_TRACE(in[i].name);
    const TRecordProperty& p = out.properties[i];
    EXPECT_EQ(p.name, in[i].name);
    EXPECT_EQ(p.kind, in[i].kind);
    EXPECT_EQ(p.valueType, types[i]);
    if (p.kind == pkInteger) {
      EXPECT_EQ(p.intValue, in[i].intValue);
    }
    if (p.kind == pkBoolean) {
      EXPECT_EQ(p.boolValue, in[i].boolValue);
    }
  }
  EXPECT_EQ(out.properties[5].textValue, longText);
  // The wide text arrives in the code page: é is Latin-1 0xE9, € is not in it.
  EXPECT_EQ(out.properties[8].textValue, "caf\xE9 ?");
  EXPECT_EQ(out.properties[9].textValue, "");
}

TEST(SettingsRecord, IntegersReadBackSignExtended) {
  Bytes b = Prefix();
  AddName(b, "A", vaInt8);
  b.push_back(0xFF);
  AddName(b, "B", vaInt16);
  b.insert(b.end(), {0x30, 0xF8});  // -2000
  AddName(b, "C", vaInt32);
  b.insert(b.end(), {0x60, 0xEA, 0x00, 0x00});  // 60000
  b.push_back(0);
  TRecordParseResult r = ParseSettingsRecord(b.data(), b.size());
  ASSERT_EQ(r.status, TRecordStatus::Ok);
  ASSERT_EQ(r.properties.size(), 3u);
  EXPECT_EQ(r.properties[0].intValue, -1);
  EXPECT_EQ(r.properties[1].intValue, -2000);
  EXPECT_EQ(r.properties[2].intValue, 60000);
}

TEST(SettingsRecord, WriterPicksTheSmallestType) {
  EXPECT_EQ(ChooseValueType(Int("x", 127)), vaInt8);
  EXPECT_EQ(ChooseValueType(Int("x", 128)), vaInt16);
  EXPECT_EQ(ChooseValueType(Int("x", -32769)), vaInt32);
  EXPECT_EQ(ChooseValueType(Int("x", 60000)), vaInt32);
  EXPECT_EQ(ChooseValueType(Text("x", std::string(255, 'a'))), vaString);
  EXPECT_EQ(ChooseValueType(Text("x", std::string(256, 'a'))), vaLString);
  EXPECT_EQ(ChooseValueType(Text("x", "\xC3\xA4")), vaWString);
  EXPECT_THROW(WriteSettingsRecord({Int("x", 300, vaInt8)}), std::invalid_argument);
  EXPECT_THROW(WriteSettingsRecord({Text(std::string(256, 'n'), "")}), std::invalid_argument);
  EXPECT_THROW(WriteSettingsRecord({Text("x", "\xC3", vaWString)}), std::invalid_argument);
}

TEST(SettingsRecord, WrongPrefixMeansNoProperties) {
  Bytes b = WriteSettingsRecord({Bool("Enabled", true)});
  b[6] = 'k';  // "TkEstrix"
  EXPECT_EQ(ParseSettingsRecord(b.data(), b.size()).status, TRecordStatus::NoPrefix);
  EXPECT_TRUE(ParseSettingsRecord(b.data(), b.size()).properties.empty());
  EXPECT_EQ(ParseSettingsRecord(b.data(), 20).status, TRecordStatus::NoPrefix);
  EXPECT_EQ(ParseSettingsRecord(nullptr, 0).status, TRecordStatus::NoPrefix);
}

TEST(SettingsRecord, UnknownTypeKeepsEarlierEntries) {
  Bytes b = WriteSettingsRecord({Bool("Enabled", true), Int("SmtpPort", 25)});
  b.pop_back();  // end marker
  AddName(b, "Bad", 0x1A);
  b.push_back(0);
  TRecordParseResult r = ParseSettingsRecord(b.data(), b.size());
  EXPECT_EQ(r.status, TRecordStatus::UnknownType);
  EXPECT_EQ(r.badType, 0x1A);
  ASSERT_EQ(r.properties.size(), 2u);
  EXPECT_EQ(r.properties[1].name, "SmtpPort");
  EXPECT_EQ(InvalidRecordMessage(r), "Internal error: Invalid settings resource (1a).");
  r.badType = 7;
  EXPECT_EQ(InvalidRecordMessage(r), "Internal error: Invalid settings resource (7).");
}

// The build step names the map's fingerprint in a written record: the other
// entries stay byte for byte (a wide text beyond Latin-1 too), an earlier
// value of that name goes.
TEST(SettingsRecord, SetPropertyKeepsTheOtherEntriesAsStored) {
  const Bytes before = WriteSettingsRecord({Bool("Enabled", true), Text("MinDebugInfo", "old"),
                                            Text("TitleBar", "\xE2\x82\xAC \xCE\xA9", vaWString),
                                            Int("FreezeTimeout", 60000)});
  TRecordProperty fingerprint = Text("MinDebugInfo", std::string(31, 'f'), vaLString);
  const Bytes after = SetRecordProperty(before.data(), before.size(), fingerprint);
  const Bytes expected = WriteSettingsRecord({Bool("Enabled", true), Text("TitleBar", "\xE2\x82\xAC \xCE\xA9", vaWString),
                                              Int("FreezeTimeout", 60000), fingerprint});
  EXPECT_EQ(after, expected);
  // Setting it again replaces it.
  fingerprint.textValue = std::string(31, 'g');
  const Bytes again = SetRecordProperty(after.data(), after.size(), fingerprint);
  TRecordParseResult r = ParseSettingsRecord(again.data(), again.size());
  ASSERT_EQ(r.status, TRecordStatus::Ok);
  ASSERT_EQ(r.properties.size(), 4u);
  EXPECT_EQ(r.properties[3].textValue, std::string(31, 'g'));
  // A record that cannot be read to its end is not rewritten.
  Bytes cut(before.begin(), before.end() - 1);
  EXPECT_THROW(SetRecordProperty(cut.data(), cut.size(), fingerprint), std::invalid_argument);
  Bytes bad = before;
  bad[0] = 'X';
  EXPECT_THROW(SetRecordProperty(bad.data(), bad.size(), fingerprint), std::invalid_argument);
}

TEST(SettingsRecord, EveryTruncationStopsInsideTheData) {
  Bytes full = WriteSettingsRecord({Bool("A", true), Int("B", 100000), Text("C", "abc"),
                                    Text("D", std::string(300, 'd')),
                                    Text("E", "\xC3\xA9", vaWString)});
  for (size_t n = kRecordPrefixSize; n < full.size(); ++n) {
    // A copy of exactly n bytes, so that ASan sees any read past it.
    std::vector<unsigned char> cut(full.begin(), full.begin() + n);
    TRecordParseResult r = ParseSettingsRecord(cut.data(), cut.size());
    EXPECT_EQ(r.status, TRecordStatus::Truncated) << n;
    // Entries that ended before the cut are kept; the one cut is not.
    EXPECT_LE(r.properties.size(), n + 1 == full.size() ? 5u : 4u) << n;
  }
  // A wide count that claims more than is there.
  Bytes b = Prefix();
  AddName(b, "W", vaWString);
  b.insert(b.end(), {0xFF, 0xFF, 0xFF, 0x7F, 'a', 0});
  EXPECT_EQ(ParseSettingsRecord(b.data(), b.size()).status, TRecordStatus::Truncated);
}

TEST(SettingsFile, ParsesKindsTypesAndEscapes) {
  const std::string text =
      "# comment\n"
      "\n"
      "Enabled = true   # trailing comment\n"
      "FreezeTimeout = 60000\r\n"
      "MailAddr = \"a\\\"b\\\\c\\x41\\n\"\n"
      "Custom : int16 = 7\n"
      "Wide : wstring = \"x\"\n"
      "Assistant4 = \"A|B\"\n";
  std::vector<TRecordProperty> p = ParseSettingsFile(text);
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[0].kind, pkBoolean);
  EXPECT_TRUE(p[0].boolValue);
  EXPECT_EQ(p[1].intValue, 60000);
  EXPECT_EQ(p[2].textValue, "a\"b\\cA\n");
  EXPECT_EQ(p[3].valueType, vaInt16);
  EXPECT_EQ(p[4].valueType, vaWString);
  EXPECT_EQ(p[5].kind, pkText);
  // The readable dump parses back to the same list.
  std::vector<TRecordProperty> again = ParseSettingsFile(FormatSettingsFile(p));
  ASSERT_EQ(again.size(), p.size());
  for (size_t i = 0; i < p.size(); ++i) {
    EXPECT_EQ(again[i].name, p[i].name);
    EXPECT_EQ(again[i].textValue, p[i].textValue);
    EXPECT_EQ(again[i].intValue, p[i].intValue);
  }
}

TEST(SettingsFile, ReportsErrorsWithTheirLine) {
  auto lineOf = [](const std::string& text) {
    try {
      ParseSettingsFile(text);
    } catch (const TSettingsFileError& e) {
      return e.Line();
    }
    return 0;
  };
  EXPECT_EQ(lineOf("Enabled = true\nEnabled = false\n"), 2);       // twice
  EXPECT_EQ(lineOf("\nNoSuchSetting = 1\n"), 2);                   // unknown, untyped
  EXPECT_EQ(lineOf("FreezeTimeout = \"60\"\n"), 1);                // kind mismatch
  EXPECT_EQ(lineOf("Enabled : integer = 1\n"), 1);                 // type contradicts table
  EXPECT_EQ(lineOf("Enabled = yes\n"), 1);
  EXPECT_EQ(lineOf("SmtpPort = 99999999999\n"), 1);
  EXPECT_EQ(lineOf("X : int8 = 200\n"), 1);                        // does not fit
  EXPECT_EQ(lineOf("MailAddr = \"open\n"), 1);
  EXPECT_EQ(lineOf("MailAddr = \"a\" b\n"), 1);
  EXPECT_EQ(lineOf("Enabled true\n"), 1);
}

TEST(SettingsCipher, PasswordsAreEncipheredReversibly) {
  std::vector<TRecordProperty> p = ParseSettingsFile(
      "SmtpServer = \"mail.example\"\nSmtpAccount = \"me\"\nSmtpPassword = \"secret secret\"\n"
      "HttpPassword = \"\"\n");
  EncipherPasswords(p);
  EXPECT_NE(p[2].textValue, "secret secret");
  EXPECT_EQ(p[2].textValue.find("secret"), std::string::npos);
  EXPECT_EQ(DecodePassword(p[2].textValue, "me", "mail.example"), "secret secret");
  EXPECT_NE(DecodePassword(p[2].textValue, "you", "mail.example"), "secret secret");
  EXPECT_EQ(p[3].textValue, "");  // empty stays empty

  for (const std::string& s : std::vector<std::string>{"", "a", "ab", "abc", "abcd", std::string("\0\xff", 2)}) {
    std::string back;
    ASSERT_TRUE(Base64Decode(Base64Encode(s), back));
    EXPECT_EQ(back, s);
  }
  EXPECT_EQ(Base64Encode("Man"), "TWFu");
  EXPECT_EQ(Base64Encode("Ma"), "TWE=");
  std::string out;
  EXPECT_FALSE(Base64Decode("TWE", out));
  EXPECT_FALSE(Base64Decode("T=E=", out));
  EXPECT_FALSE(Base64Decode("TW!=", out));
}

TEST(SettingsDefaults, TableHoldsEverySettingOnce) {
  EXPECT_EQ(kDefaultSettingCount, 125u);
  for (size_t i = 0; i < kDefaultSettingCount; ++i)
    EXPECT_EQ(FindDefaultSetting(kDefaultSettings[i].name), &kDefaultSettings[i]);
  EXPECT_EQ(FindDefaultSetting("Assistant1"), nullptr);
  EXPECT_EQ(FindDefaultSetting("MinDebugInfo"), nullptr);
  EXPECT_EQ(FindDefaultSetting("enabled"), nullptr);  // case-sensitive
  EXPECT_EQ(FindDefaultSetting("AutoDelay")->intValue, 60);
  EXPECT_EQ(FindDefaultSetting("MailFrom")->textValue, nullptr);
  EXPECT_STREQ(FindDefaultSetting("PrepAttMsg")->textValue, "Prepare attachments...");
  EXPECT_STREQ(FindDefaultSetting("OnlineCheckHost")->textValue, "1.1.1.1");
  EXPECT_EQ(FindDefaultSetting("DumpKind")->intValue, 0);  // no minidump unless asked for
  EXPECT_STREQ(FindDefaultSetting("DumpSendAs")->textValue, "crash.dmp");
  EXPECT_EQ(FindDefaultSetting("DumpZip")->textValue, nullptr);
  TPropertyKind kind;
  EXPECT_TRUE(KnownSettingKind("Assistant12", kind));
  EXPECT_FALSE(KnownSettingKind("Assistant", kind));
  EXPECT_FALSE(KnownSettingKind("Assistant1x", kind));
}

#ifdef QUORRIN_SETTINGS_FILE
// Quorrin's own file: the stored settings in record order, 120 entries.
TEST(QuorrinSettings, HoldsTheStoredSettingsInRecordOrder) {
  std::ifstream in(QUORRIN_SETTINGS_FILE, std::ios::binary);
  ASSERT_TRUE(in) << QUORRIN_SETTINGS_FILE;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<TRecordProperty> p = ParseSettingsFile(text);

  // Expected order: the default table's order without the settings the
  // record lacks, filter options group by group, the assistants after GnAssis.
  std::vector<std::string> expected;
  const char* absent[] = {"VersionVar", "AutoDelay",  "MailFrom", "OnlineCheckHost",
                           "AddFields",  "DumpKind", "DumpSendAs", "DumpZip"};
  const char* options[] = {"NoBugRep", "NoScrShot", "NoHandlers", "NoSuspend", "ShowCfg", "Assis"};
  for (const TPropertyEntry& e : kDefaultSettings) {
    std::string name = e.name;
    bool skip = false;
    for (const char* a : absent) skip |= name == a;
    bool filter = name.size() > 2 && (name.rfind("F1", 0) == 0 || name.rfind("F2", 0) == 0 ||
                                      name.rfind("Gn", 0) == 0);
    if (skip || (filter && name != "F1Classes")) continue;
    if (name == "F1Classes") {
      for (std::string g : {"F1", "F2", "Gn"}) {
        if (g != "Gn") expected.push_back(g + "Classes");
        for (const char* o : options) expected.push_back(g + o);
      }
      for (const char* a : {"Assistant1", "Assistant2", "Assistant3"}) expected.push_back(a);
      continue;
    }
    expected.push_back(name);
  }
  ASSERT_EQ(expected.size(), 120u);
  ASSERT_EQ(p.size(), 120u);
  for (size_t i = 0; i < p.size(); ++i) EXPECT_EQ(p[i].name, expected[i]) << i;

  // Stored values that differ from the defaults.
  auto find = [&p](const std::string& name) -> const TRecordProperty& {
    for (const TRecordProperty& q : p)
      if (q.name == name) return q;
    throw std::runtime_error(name);
  };
  EXPECT_TRUE(find("Enabled").boolValue);
  EXPECT_FALSE(find("NoSettings").boolValue);
  EXPECT_EQ(find("FreezeTimeout").intValue, 60000);
  EXPECT_EQ(find("ScrShotDepth").intValue, 8);
  EXPECT_EQ(find("F1ShowCfg").intValue, 3);
  EXPECT_EQ(find("F1Classes").textValue, "EDBEditError");
  EXPECT_EQ(find("PrepAttMsg").textValue, "Preparing attachments...");
  EXPECT_EQ(find("ExceptMsg").textValue, "An error occurred in the application.");
  EXPECT_EQ(find("Assistant1").textValue,
            "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm");
  EXPECT_FALSE(find("MailAddr").textValue.empty());
  // Written and read back, the record keeps every entry.
  Bytes record = WriteSettingsRecord(p);
  TRecordParseResult r = ParseSettingsRecord(record.data(), record.size());
  EXPECT_EQ(r.status, TRecordStatus::Ok);
  EXPECT_EQ(r.properties.size(), 120u);
}
#endif

}  // namespace
}  // namespace kestrix
