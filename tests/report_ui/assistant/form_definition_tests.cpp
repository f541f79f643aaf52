// Form definitions: the stored forms through writer and reader, the value
// types, damaged definitions, the readable files' syntax, the address check.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_text.h"
#include "report_ui/assistant/mail_address.h"

namespace kestrix {
namespace {

std::string FormFile(const std::string& name) {
  std::ifstream in(std::string(KX_FORMS_DIR) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

const TFormProperty* Find(const TFormObject& o, const std::string& name) {
  for (const TFormProperty& p : o.properties)
    if (p.name == name) return &p;
  return nullptr;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(FormDefinition, StoredFormsSurviveWriterAndReader) {
  for (const char* file : {"ContactForm.kxform", "DetailsForm.kxform", "ScrShotForm.kxform"}) {
    std::string text = FormFile(file);
    ASSERT_FALSE(text.empty()) << file;
    TFormObject form = ParseFormText(text);
    std::vector<uint8_t> bin = WriteFormDefinition(form);
    TFormReadResult back = ReadFormDefinition(bin.data(), bin.size());
    ASSERT_TRUE(back.valid) << back.error;
    EXPECT_EQ(FormText(back.root), FormText(form)) << file;
    EXPECT_EQ(WriteFormDefinition(back.root), bin);
  }
  TFormObject contact = ParseFormText(FormFile("ContactForm.kxform"));
  EXPECT_EQ(contact.name, "ContactForm");
  EXPECT_EQ(Find(contact, "OnAction")->ValueText(), "Kestrix.HandleContactForm");
  ASSERT_EQ(contact.children.size(), 8u);
  EXPECT_EQ(contact.children[4].name, "NameEdit");
  EXPECT_EQ(Find(contact.children[4], "Optional")->ValueText(), "1");
  EXPECT_EQ(Find(contact.children[4], "OutputType")->type, fvIdent);
  EXPECT_EQ(Find(contact.children[1], "Enabled")->ValueText(), "0");
  TFormObject shot = ParseFormText(FormFile("ScrShotForm.kxform"));
  EXPECT_EQ(Find(shot, "Timer")->ValueText(), "250");
  EXPECT_EQ(FormResourceName("ScrShotForm"), "TKXSCRSHOTFORM");
}

TEST(FormDefinition, ValueTypesAsStored) {
  TFormObject o;
  o.className = "TNVForm";
  o.name = "F";
  for (int32_t v : {-128, 127, -32768, 32767, 100000, INT32_MIN}) {
    TFormProperty p;
    p.name = "I";
    p.type = fvInt32;
    p.intValue = v;
    o.properties.push_back(p);
  }
  TFormProperty big;
  big.name = "Long";
  big.text = std::string(300, 'x');
  o.properties.push_back(big);
  std::vector<uint8_t> bin = WriteFormDefinition(o);
  TFormReadResult r = ReadFormDefinition(bin.data(), bin.size());
  ASSERT_TRUE(r.valid);
  std::vector<uint8_t> types;
  for (const TFormProperty& p : r.root.properties) types.push_back(p.type);
  EXPECT_EQ(types, (std::vector<uint8_t>{fvInt8, fvInt8, fvInt16, fvInt16, fvInt32, fvInt32, fvLString}));
  EXPECT_EQ(r.root.properties[5].ValueText(), "-2147483648");
  EXPECT_EQ(r.root.properties[6].text, big.text);
  o.name = std::string(256, 'n');
  EXPECT_THROW(WriteFormDefinition(o), std::invalid_argument);
}

TEST(FormDefinition, DamagedDefinitionsKeepWhatWasRead) {
  // TNVForm "F" { A = 'x'; B = <type 5> }
  std::string head = std::string("TPF0") + "\x07TNVForm\x01" "F" "\x01" "A\x06\x01x";
  std::vector<uint8_t> bad = Bytes(head + "\x01" "B\x05\x01\x02");
  TFormReadResult r = ReadFormDefinition(bad.data(), bad.size());
  EXPECT_FALSE(r.valid);
  EXPECT_EQ(r.error, "Internal error: Invalid assistant resource (05).");
  ASSERT_EQ(r.root.properties.size(), 1u);
  EXPECT_EQ(r.root.properties[0].text, "x");

  std::vector<uint8_t> full = WriteFormDefinition(ParseFormText(FormFile("ContactForm.kxform")));
  for (size_t cut = 4; cut < full.size(); ++cut) {
    TFormReadResult t = ReadFormDefinition(full.data(), cut);
    EXPECT_FALSE(t.valid) << cut;
    EXPECT_EQ(t.error, "Internal error: Invalid assistant resource (end of data).");
  }
  // A long string claiming more bytes than there are.
  std::vector<uint8_t> lie = Bytes(head + "\x01" "L\x0c\xff\xff\xff\x7f" "abc");
  EXPECT_FALSE(ReadFormDefinition(lie.data(), lie.size()).valid);
  // Children nested without end.
  const std::string object("\x01T\x01N\x00", 5);  // no properties, then the children
  std::string deep = "TPF0" + object;
  for (int i = 0; i < 100; ++i) deep += object;
  std::vector<uint8_t> nested = Bytes(deep);
  EXPECT_NE(ReadFormDefinition(nested.data(), nested.size()).error.find("nested too deeply"), std::string::npos);
  // No "TPF0": no definition, an empty page.
  std::vector<uint8_t> none = Bytes("object F: TNVForm end");
  EXPECT_TRUE(ReadFormDefinition(none.data(), none.size()).valid);
  EXPECT_TRUE(ReadFormDefinition(nullptr, 0).valid);
}

TEST(FormText, SyntaxAndErrors) {
  TFormObject o = ParseFormText(
      "// c\nobject F: TNVForm\n  Message = 'It''s \xC3\xA4'\n  N = -5\n  OK = true\n"
      "  object E: TNVEdit\n    Text = 'a%lf%b'\n  end\nend\n");
  EXPECT_EQ(Find(o, "Message")->text, "It's \xE4");
  EXPECT_EQ(Find(o, "N")->intValue, -5);
  EXPECT_EQ(Find(o, "OK")->type, fvTrue);
  ASSERT_EQ(o.children.size(), 1u);
  EXPECT_EQ(Find(o.children[0], "Text")->text, "a%lf%b");

  auto error = [](const std::string& text) {
    try {
      ParseFormText(text);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(error("object F: TNVForm\n  A = 'open\nend\n"), "line 2: string not closed");
  EXPECT_EQ(error("object F: TNVForm\n  A = 1\n"), "line 3: \"end\" missing for F");
  EXPECT_EQ(error("object F TNVForm\nend"), "line 1: \":\" expected");
  EXPECT_EQ(error("object F: T\n A = 99999999999\nend"), "line 2: integer out of range: 99999999999");
  EXPECT_EQ(error("object F: T\n A = '\xE2\x82\xAC'\nend"),
            "line 2: only characters of Latin-1 (as UTF-8) can be stored in a form");
  EXPECT_EQ(error("object F: T\nend\nend"), "line 3: text after the last \"end\"");
}

TEST(MailAddress, AcceptsPlainAddressesOnly) {
  for (const char* good : {"jo@example.test", "jo.doe+bugs@mail.example.test", "a_b-c@x.y", "1@2.3"})
    EXPECT_TRUE(IsValidMailAddress(good)) << good;
  for (const char* bad : {"", "jo@example", "jo@.example.test", "@example.test", "jo@ex@ample.test",
                          " jo@example.test", "jo@example.test ", "jo doe@example.test", ".jo@example.test",
                          "jo@example.test.", "jo@", "jo#x@example.test", "Jo <jo@example.test>"})
    EXPECT_FALSE(IsValidMailAddress(bad)) << bad;
}

}  // namespace
}  // namespace kestrix
