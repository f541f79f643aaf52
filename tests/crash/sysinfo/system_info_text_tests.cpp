// The system-information items' texts: sizes, durations, the operating
// system's name and edition, memory and display.
#include <gtest/gtest.h>

#include "crash/sysinfo/system_info_text.h"

namespace kestrix {
namespace {

TEST(FormatSize, UnitsAndCutHundredths) {
  EXPECT_EQ(FormatSize(0, ','), "0 Bytes");
  EXPECT_EQ(FormatSize(1023, ','), "1023 Bytes");
  EXPECT_EQ(FormatSize(1024, ','), "1,00 KB");
  EXPECT_EQ(FormatSize(1536, ','), "1,50 KB");
  EXPECT_EQ(FormatSize(1048575, ','), "1023,99 KB") << "cut, not rounded to 1024,00";
  EXPECT_EQ(FormatSize(1048576, '.'), "1.00 MB");
  EXPECT_EQ(FormatSize(1073741823, ','), "1023,99 MB");
  EXPECT_EQ(FormatSize(1073741824LL * 5 / 2, ','), "2,50 GB");
  EXPECT_EQ(FormatSize(1099511627776LL * 3, ','), "3072,00 GB") << "gigabytes are the largest unit";
  EXPECT_EQ(FormatSize(-1536, ','), "1,50 KB");
  EXPECT_EQ(FormatSize(INT64_MIN, ','), "8589934592,00 GB");
}

TEST(DurationText, TheTwoLargestUnits) {
  EXPECT_EQ(DurationText(0), "");
  EXPECT_EQ(DurationText(-5), "");
  EXPECT_EQ(DurationText(59), "59 seconds ");
  EXPECT_EQ(DurationText(60), "1 minute ");
  EXPECT_EQ(DurationText(61), "1 minute 1 second ");
  EXPECT_EQ(DurationText(3600), "1 hour ");
  EXPECT_EQ(DurationText(2 * 3600 + 60), "2 hours 1 minute ");
  EXPECT_EQ(DurationText(86400 + 3600 + 61), "1 day 1 hour ");
  EXPECT_EQ(DurationText(2 * 86400 + 59), "2 days ") << "the seconds lie below the second unit shown";
  EXPECT_EQ(DurationText(3 * 86400 + 23 * 3600 + 3599), "3 days 23 hours ");
}

TEST(DurationText, ProgramUpTimeUnderASecondInMilliseconds) {
  EXPECT_EQ(ElapsedText(400), "400 milliseconds");
  EXPECT_EQ(ElapsedText(0), "0 milliseconds");
  EXPECT_EQ(ElapsedText(1999), "1 second ");
  EXPECT_EQ(ElapsedText(90500), "1 minute 30 seconds ");
}

TEST(TrimControls, CodesUpToBlank) {
  EXPECT_EQ(TrimControls("\t  Intel(R) Core(TM) i5 \r\n\x01"), "Intel(R) Core(TM) i5");
  EXPECT_EQ(TrimControls(" \x1f "), "");
  EXPECT_EQ(TrimControls("\xa0x\xa0"), "\xa0x\xa0") << "only codes 0 to 32";
}

TOsVersionRecord Nt(uint32_t major, uint32_t minor, uint32_t build, std::string sp = "") {
  TOsVersionRecord r;
  r.platform = 2;
  r.major = major;
  r.minor = minor;
  r.build = build;
  r.servicePackText = sp;
  r.extended = true;
  return r;
}

TOsVersionRecord Win9x(uint32_t minor, uint32_t build) {
  TOsVersionRecord r;
  r.platform = 1;
  r.major = 4;
  r.minor = minor;
  r.build = build;
  return r;
}

TEST(QueryOsInfo, NtFamilyNames) {
  EXPECT_EQ(OsVersionText(MakeOsInfo(Nt(5, 0, 2195))), "Windows 2000 build 2195") << "no blank without a pack";
  EXPECT_EQ(OsVersionText(MakeOsInfo(Nt(5, 1, 2600, "Service Pack 2"))), "Windows XP Service Pack 2 build 2600");
  EXPECT_EQ(MakeOsInfo(Nt(3, 51, 1057)).Description, "Windows NT 3");
  EXPECT_EQ(MakeOsInfo(Nt(4, 0, 1381)).Description, "Windows NT 4");
  EXPECT_EQ(MakeOsInfo(Nt(5, 2, 3790)).Description, "Windows 2003");
  TOsVersionRecord xp64 = Nt(5, 2, 3790);
  xp64.productType = 1;  // the workstation of version 5.2 is XP x64
  xp64.win64 = true;
  EXPECT_EQ(MakeOsInfo(xp64).Description, "Windows XP x64");
  EXPECT_EQ(MakeOsInfo(Nt(6, 0, 6002)).Description, "Windows Vista");
  // Newer than the table: the rules' own text, with the real build.
  const TOS seven = MakeOsInfo(Nt(6, 1, 7601, "Service Pack 1"));
  EXPECT_EQ(seven.OsIndex, 13);
  EXPECT_EQ(OsVersionText(seven), "Windows NT New Service Pack 1 build 7601");
  EXPECT_EQ(OsVersionText(MakeOsInfo(Nt(10, 0, 19045))), "Windows NT New build 19045");
  EXPECT_TRUE(seven.WinNt);
  EXPECT_FALSE(seven.Win9x);
  EXPECT_EQ(seven.WinNtVersion, 13);
  EXPECT_EQ(seven.Win9xVersion, 0);
}

TEST(QueryOsInfo, EditionSuffixesInOrder) {
  TOsVersionRecord r = Nt(5, 2, 3790, "Service Pack 2");
  r.serverR2 = r.tabletPc = r.starter = r.mediaCenter = r.win64 = true;
  EXPECT_EQ(MakeOsInfo(r).Description, "Windows 2003 R2 Tablet PC Starter Media Center x64 Service Pack 2");
  r = Nt(6, 0, 6000);
  r.mediaCenter = true;
  EXPECT_EQ(MakeOsInfo(r).Description, "Windows Vista") << "Media Center only before Vista";
  // The 9x family gets no suffixes.
  TOsVersionRecord me = Win9x(90, 3000);
  me.servicePackText = " A ";
  me.tabletPc = true;
  EXPECT_EQ(MakeOsInfo(me).Description, "Windows ME");
}

TEST(QueryOsInfo, ServicePackNumber) {
  EXPECT_EQ(MakeOsInfo(Nt(5, 1, 2600, "Service Pack 3")).ServicePack, 0u) << "the extended record's number";
  TOsVersionRecord r = Nt(5, 1, 2600, "Service Pack 3");
  r.servicePackMajor = 3;
  EXPECT_EQ(MakeOsInfo(r).ServicePack, 3u);
  r.extended = false;
  r.servicePackMajor = 0;
  EXPECT_EQ(MakeOsInfo(r).ServicePack, 3u) << "from the text's fourteenth character";
  r.servicePackText = "Service Pack 12a";
  EXPECT_EQ(MakeOsInfo(r).ServicePack, 12u);
  r.servicePackText = "SP3";
  EXPECT_EQ(MakeOsInfo(r).ServicePack, 0u);
}

TEST(QueryOsInfo, Win9xFamilyByMinorAndBuild) {
  struct {
    uint32_t minor, build;
    const char* name;
  } cases[] = {{0, 950, "Windows 95"},       {0, 1000, "Windows 95"},    {0, 1111, "Windows 95 OSR-2"},
               {10, 1998, "Windows 98"},     {10, 2000, "Windows 98"},   {10, 2222, "Windows 98 SE"},
               {10, 2700, "Windows 98 SE"},  {10, 2701, "Windows ME"},   {11, 0, "Windows ME"},
               {90, 3000, "Windows ME"},     {91, 0, "Windows 9x New"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MakeOsInfo(Win9x(c.minor, c.build)).Description, c.name);
  }
  // The build's high word carries the version on this family.
  const TOS se = MakeOsInfo(Win9x(10, 0x040A08AE));
  EXPECT_EQ(se.Build, 2222u);
  EXPECT_EQ(se.Description, "Windows 98 SE");
  EXPECT_EQ(se.Win9xVersion, 4);
  TOsVersionRecord old = Win9x(0, 0);
  old.major = 3;
  EXPECT_EQ(MakeOsInfo(old).Description, "None");
  old.major = 5;
  EXPECT_EQ(MakeOsInfo(old).Description, "Windows 9x New");
  EXPECT_EQ(MakeOsInfo(TOsVersionRecord{}).Description, "None") << "neither family";
}

TEST(SystemItems, MemoryResourcesDisplayProcessors) {
  EXPECT_EQ(PhysicalMemoryText(222298112, 1072693248), "212/1023 MB (free/total)");
  EXPECT_EQ(PhysicalMemoryText(524287, 524288), "0/1 MB (free/total)") << "rounded to whole megabytes";
  EXPECT_EQ(FreeResourcesText(7, 35), "07/35 (gdi/user)");
  EXPECT_EQ(FreeResourcesText(0, 100), "00/100 (gdi/user)");
  EXPECT_EQ(DisplayModeText(1280, 1024, 32), "1280x1024, 32 bit");
  EXPECT_EQ(CountProcessorsBy([](int i) { return i < 4; }), 4) << "keys 0 to 3";
  EXPECT_EQ(CountProcessorsBy([](int) { return false; }), 1);
  int asked = 0;
  EXPECT_EQ(CountProcessorsBy([&](int) { return ++asked > 0; }), 16);
  EXPECT_EQ(asked, 15) << "keys beyond 15 are not read";
}

TEST(SystemItems, FreeDiskSpaceOfOneOrTwoDrives) {
  EXPECT_EQ(FreeDiskSpaceText('c', "1,50 GB", 'C', ""), "(C:) 1,50 GB") << "the executable on the system drive";
  EXPECT_EQ(FreeDiskSpaceText('C', "1,50 GB", 0, ""), "(C:) 1,50 GB");
  EXPECT_EQ(FreeDiskSpaceText('C', "1,50 GB", 'z', "20,00 MB"), "(C:) 1,50 GB (Z:) 20,00 MB");
  EXPECT_EQ(FreeDiskSpaceText('C', "", 'Z', "20,00 MB"), "(Z:) 20,00 MB");
  EXPECT_EQ(FreeDiskSpaceText(0, "", 'Z', "20,00 MB"), "");
}

}  // namespace
}  // namespace kestrix
