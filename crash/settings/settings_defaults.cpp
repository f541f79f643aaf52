#include "crash/settings/settings_defaults.h"

#include <cstring>

namespace kestrix {

namespace {

// Table rows point at constant literals; nothing ever writes through them.
constexpr char* S(const char* s) { return const_cast<char*>(s); }

}  // namespace

const TPropertyEntry kDefaultSettings[kDefaultSettingCount] = {
    {S("Enabled"), pkBoolean, 0, 0, nullptr},
    {S("NoSettings"), pkBoolean, 1, 0, nullptr},
    {S("CheckFileCrc"), pkBoolean, 1, 0, nullptr},
    {S("CheckFreeze"), pkBoolean, 0, 0, nullptr},
    {S("FreezeTimeout"), pkInteger, 0, 60, nullptr},
    {S("VersionVar"), pkInteger, 0, 0, nullptr},
    {S("AutoSave"), pkBoolean, 1, 0, nullptr},
    {S("AutoSaveIfNotSent"), pkBoolean, 1, 0, nullptr},
    {S("AutoSend"), pkBoolean, 0, 0, nullptr},
    {S("AutoSendBox"), pkBoolean, 0, 0, nullptr},
    {S("AutoClip"), pkBoolean, 1, 0, nullptr},
    {S("PauseThreads"), pkBoolean, 0, 0, nullptr},
    {S("PlWaitBox"), pkBoolean, 1, 0, nullptr},
    {S("AutoContinue"), pkBoolean, 0, 0, nullptr},
    {S("AutoRestart"), pkInteger, 0, 0, nullptr},
    {S("AutoClose"), pkInteger, 0, 0, nullptr},
    {S("AutoDelay"), pkInteger, 0, 60, nullptr},
    {S("SendBtnVis"), pkBoolean, 1, 0, nullptr},
    {S("SaveBtnVis"), pkBoolean, 0, 0, nullptr},
    {S("PrintBtnVis"), pkBoolean, 0, 0, nullptr},
    {S("ShowBtnVis"), pkBoolean, 1, 0, nullptr},
    {S("ContinueBtnVis"), pkBoolean, 1, 0, nullptr},
    {S("RestartBtnVis"), pkBoolean, 1, 0, nullptr},
    {S("CloseBtnVis"), pkBoolean, 1, 0, nullptr},
    {S("FocusedBtn"), pkInteger, 0, 0, nullptr},
    {S("SendAssis"), pkText, 0, 0, nullptr},
    {S("SaveAssis"), pkText, 0, 0, nullptr},
    {S("PrintAssis"), pkText, 0, 0, nullptr},
    {S("AutoShowBugRep"), pkBoolean, 0, 0, nullptr},
    {S("UglyBtns"), pkBoolean, 0, 0, nullptr},
    {S("MailAddr"), pkText, 0, 0, nullptr},
    {S("SendInBackgr"), pkBoolean, 1, 0, nullptr},
    {S("MailAsSmtpServer"), pkBoolean, 0, 0, nullptr},
    {S("MailAsSmtpClient"), pkBoolean, 0, 0, nullptr},
    {S("UploadViaHttp"), pkBoolean, 0, 0, nullptr},
    {S("MailViaMapi"), pkBoolean, 1, 0, nullptr},
    {S("MailViaMailto"), pkBoolean, 1, 0, nullptr},
    {S("SmtpServer"), pkText, 0, 0, nullptr},
    {S("SmtpPort"), pkInteger, 0, 25, nullptr},
    {S("SmtpAccount"), pkText, 0, 0, nullptr},
    {S("SmtpPassword"), pkText, 0, 0, nullptr},
    {S("HttpServer"), pkText, 0, 0, nullptr},
    {S("HttpPort"), pkInteger, 0, 80, nullptr},
    {S("HttpAccount"), pkText, 0, 0, nullptr},
    {S("HttpPassword"), pkText, 0, 0, nullptr},
    {S("MailFrom"), pkText, 0, 0, nullptr},
    {S("OnlineCheckHost"), pkText, 0, 0, S("1.1.1.1")},
    {S("AttachBugRep"), pkBoolean, 1, 0, nullptr},
    {S("AttachBugRepFile"), pkBoolean, 1, 0, nullptr},
    {S("DelBugRepFile"), pkBoolean, 1, 0, nullptr},
    {S("BugRepSendAs"), pkText, 0, 0, S("bugreport.txt")},
    {S("BugRepZip"), pkText, 0, 0, nullptr},
    {S("ScrShotDepth"), pkInteger, 0, 0, nullptr},
    {S("ScrShotAppOnly"), pkBoolean, 1, 0, nullptr},
    {S("ScrShotSendAs"), pkText, 0, 0, S("screenshot.png")},
    {S("ScrShotZip"), pkText, 0, 0, nullptr},
    {S("DumpKind"), pkInteger, 0, 0, nullptr},
    {S("DumpSendAs"), pkText, 0, 0, S("crash.dmp")},
    {S("DumpZip"), pkText, 0, 0, nullptr},
    {S("AddAttachs"), pkText, 0, 0, nullptr},
    {S("AddFields"), pkText, 0, 0, nullptr},
    {S("BugRepFile"), pkText, 0, 0, S("bugreport.txt")},
    {S("AppendBugReps"), pkBoolean, 1, 0, nullptr},
    {S("BugRepFileSize"), pkInteger, 0, 100000, nullptr},
    {S("NoDupExcepts"), pkBoolean, 1, 0, nullptr},
    {S("NoDupFreezes"), pkBoolean, 1, 0, nullptr},
    {S("DupExceptDef"), pkInteger, 0, 1, nullptr},
    {S("DupFreezeDef"), pkInteger, 0, 2, nullptr},
    {S("ListThreads"), pkBoolean, 1, 0, nullptr},
    {S("CpuRegs"), pkBoolean, 1, 0, nullptr},
    {S("StackDump"), pkBoolean, 1, 0, nullptr},
    {S("ShowDisAsm"), pkBoolean, 1, 0, nullptr},
    {S("HideUglyItems"), pkBoolean, 0, 0, nullptr},
    {S("ShowRelAddrs"), pkBoolean, 1, 0, nullptr},
    {S("ShowRelLines"), pkBoolean, 1, 0, nullptr},
    {S("FormatDisAsm"), pkBoolean, 0, 0, nullptr},
    {S("LimitDisAsm"), pkInteger, 0, 5, nullptr},
    {S("Plugins"), pkText, 0, 0, S("modules|processes|hardware")},
    {S("F1Classes"), pkText, 0, 0, nullptr},
    {S("F2Classes"), pkText, 0, 0, nullptr},
    {S("F1NoBugRep"), pkBoolean, 0, 0, nullptr},
    {S("F2NoBugRep"), pkBoolean, 0, 0, nullptr},
    {S("GnNoBugRep"), pkBoolean, 0, 0, nullptr},
    {S("F1NoScrShot"), pkBoolean, 0, 0, nullptr},
    {S("F2NoScrShot"), pkBoolean, 0, 0, nullptr},
    {S("GnNoScrShot"), pkBoolean, 0, 0, nullptr},
    {S("F1NoHandlers"), pkBoolean, 0, 0, nullptr},
    {S("F2NoHandlers"), pkBoolean, 0, 0, nullptr},
    {S("GnNoHandlers"), pkBoolean, 0, 0, nullptr},
    {S("F1NoSuspend"), pkBoolean, 0, 0, nullptr},
    {S("F2NoSuspend"), pkBoolean, 0, 0, nullptr},
    {S("GnNoSuspend"), pkBoolean, 0, 0, nullptr},
    {S("F1ShowCfg"), pkInteger, 0, 0, nullptr},
    {S("F2ShowCfg"), pkInteger, 0, 0, nullptr},
    {S("GnShowCfg"), pkInteger, 0, 0, nullptr},
    {S("F1Assis"), pkText, 0, 0, nullptr},
    {S("F2Assis"), pkText, 0, 0, nullptr},
    {S("GnAssis"), pkText, 0, 0, nullptr},
    {S("TitleBar"), pkText, 0, 0, S("%appname%")},
    {S("ExceptMsg"), pkText, 0, 0, S("An error occurred in the application.")},
    {S("FrozenMsg"), pkText, 0, 0, S("The application seems to be frozen.")},
    {S("BitFaultMsg"), pkText, 0, 0, S("The file \"%modname%\" seems to be corrupt!")},
    {S("SendBtnTxt"), pkText, 0, 0, S("send bug report")},
    {S("SaveBtnTxt"), pkText, 0, 0, S("save bug report")},
    {S("PrintBtnTxt"), pkText, 0, 0, S("print bug report")},
    {S("ShowBtnTxt"), pkText, 0, 0, S("show bug report")},
    {S("ContinueBtnTxt"), pkText, 0, 0, S("continue application")},
    {S("RestartBtnTxt"), pkText, 0, 0, S("restart application")},
    {S("CloseBtnTxt"), pkText, 0, 0, S("close application")},
    {S("OkBtnTxt"), pkText, 0, 0, S("&OK")},
    {S("DetailsBtnTxt"), pkText, 0, 0, S("&Details")},
    {S("PlWaitTitle"), pkText, 0, 0, S("Information")},
    {S("PlWaitText"), pkText, 0, 0, S("Please wait a moment...")},
    {S("MailSubj"), pkText, 0, 0, S("bug report")},
    {S("MailBody"), pkText, 0, 0, S("please find the bug report attached")},
    {S("SendBoxTitle"), pkText, 0, 0, S("Sending bug report...")},
    {S("PrepAttMsg"), pkText, 0, 0, S("Prepare attachments...")},
    {S("MxLookMsg"), pkText, 0, 0, S("Searching for mail server...")},
    {S("ConnMsg"), pkText, 0, 0, S("Connecting to server...")},
    {S("AuthMsg"), pkText, 0, 0, S("Authentication...")},
    {S("SendMailMsg"), pkText, 0, 0, S("Sending mail...")},
    {S("FieldMsg"), pkText, 0, 0, S("Setting fields...")},
    {S("SendAttMsg"), pkText, 0, 0, S("Sending attachments...")},
    {S("SendFinalMsg"), pkText, 0, 0, S("Finalizing...")},
    {S("SendFailMsg"), pkText, 0, 0, S("Sorry, sending the bug report didn't work.")},
};

const TPropertyEntry* FindDefaultSetting(const char* name) {
  if (!name) return nullptr;
  for (const TPropertyEntry& e : kDefaultSettings)
    if (std::strcmp(e.name, name) == 0) return &e;
  return nullptr;
}

bool KnownSettingKind(const char* name, TPropertyKind& kind) {
  if (const TPropertyEntry* e = FindDefaultSetting(name)) {
    kind = static_cast<TPropertyKind>(e->kind);
    return true;
  }
  if (std::strcmp(name, "MinDebugInfo") == 0) {
    kind = pkText;
    return true;
  }
  if (std::strncmp(name, "Assistant", 9) == 0 && name[9] >= '1' && name[9] <= '9') {
    for (const char* p = name + 10; *p; ++p)
      if (*p < '0' || *p > '9') return false;
    kind = pkText;
    return true;
  }
  return false;
}

}  // namespace kestrix
