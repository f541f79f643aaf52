#include "crash/report/win/report_document_win32.h"

#include <mutex>

#include "crash/base/normalised_fields.h"
#include "crash/report/report_text.h"

namespace kestrix {

TReportDocument::TReportDocument(IKXException* owner)
    : owner_(owner), header_(NewNormalisedFields(TrimReportValue)), sections_(NewNormalisedFields(TrimReportValue)) {
  header_->SetChangeSink(this);
  sections_->SetChangeSink(this);
}

TReportDocument::~TReportDocument() {
  header_->SetChangeSink(nullptr);
  sections_->SetChangeSink(nullptr);
}

void TReportDocument::BeginReportChange() {
  std::lock_guard<TCriticalSectionLock> guard(lock_);
  ++updateNesting_;
  pendingChange_ = true;
}

void TReportDocument::EndReportChange() {
  bool fire = false;
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    fire = --updateNesting_ == 0 && pendingChange_;
    if (fire) {
      pendingChange_ = false;
      ++changeCounter_;
      cachedText_.clear();
      cachedComplete_ = false;
    }
  }
  if (fire) try {
      Fire(ListenersNow());
    } catch (...) {
      // Telling the listeners failed (no memory for the text): the change
      // itself is made, and the report has no place for this.
    }
}

void TReportDocument::SetSection(const std::string& title, const std::string& content) {
  const std::string value = TrimReportValue(content);
  // The outer bracket makes the listeners run after the list's lock is
  // released (they read both lists).
  BeginReportChange();
  if (value.empty()) {
    sections_->DeleteByName(title);
  } else {
    sections_->SetContent(title, value);
  }
  EndReportChange();
}

bool TReportDocument::CachedText(bool mustBeComplete, std::string& text) {
  std::lock_guard<TCriticalSectionLock> guard(lock_);
  if (cachedText_.empty() || (!cachedComplete_ && mustBeComplete)) return false;
  text = cachedText_;
  return true;
}

std::string TReportDocument::ComposeText() {
  uint64_t before = 0;
  bool complete = false;
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    before = changeCounter_;
    complete = complete_;
  }
  TFieldList header, sections;
  header_->Lock();
  for (int i = 0; i < header_->ItemCount(); ++i) header.emplace_back(header_->Name(i), header_->ContentAt(i));
  header_->Unlock();
  sections_->Lock();
  for (int i = 0; i < sections_->ItemCount(); ++i)
    sections.emplace_back(sections_->Name(i), sections_->ContentAt(i));
  sections_->Unlock();
  std::string text = FormatReportText(header, sections);
  std::lock_guard<TCriticalSectionLock> guard(lock_);
  if (changeCounter_ == before) {
    cachedText_ = text;
    cachedComplete_ = complete;
  }
  return text;
}

void TReportDocument::ReplaceText(const std::string& text) {
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    cachedText_ = text;
    cachedComplete_ = complete_;
    ++changeCounter_;
  }
  Fire(ListenersNow());
}

std::vector<TReportDocument::TListener> TReportDocument::ListenersNow() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  return listeners_;
}

void TReportDocument::Fire(const std::vector<TListener>& listeners) {
  if (listeners.empty()) return;
  const std::string text = owner_->ReportText(false);
  const bool complete = complete_;
  // Procedures first, then methods, each in registration order. A
  // listener's failure is the listener's own: the report, which it was
  // told of, has no place for it.
  for (const TListener& l : listeners)
    if (l.proc) try {
        l.proc(complete, text, owner_);
      } catch (...) {
      }
  for (const TListener& l : listeners)
    if (l.method) try {
        l.method(l.self, complete, text, owner_);
      } catch (...) {
      }
}

void TReportDocument::AddListener(TReportListener listener, bool critical) {
  {
    std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
    for (TListener& l : listeners_)
      if (l.proc == listener) {
        l.critical = critical;
        return;
      }
    listeners_.push_back({listener, nullptr, nullptr, critical});
  }
  Fire({{listener, nullptr, nullptr, critical}});
}

void TReportDocument::AddListener(TReportMethod method, void* self, bool critical) {
  {
    std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
    for (TListener& l : listeners_)
      if (l.method == method && l.self == self) {
        l.critical = critical;
        return;
      }
    listeners_.push_back({nullptr, method, self, critical});
  }
  Fire({{nullptr, method, self, critical}});
}

void TReportDocument::RemoveListener(TReportListener listener) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (size_t i = 0; i < listeners_.size(); ++i)
    if (listeners_[i].proc == listener) {
      listeners_.erase(listeners_.begin() + i);
      return;
    }
}

void TReportDocument::RemoveListener(TReportMethod method, void* self) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (size_t i = 0; i < listeners_.size(); ++i)
    if (listeners_[i].method == method && listeners_[i].self == self) {
      listeners_.erase(listeners_.begin() + i);
      return;
    }
}

bool TReportDocument::CriticalListenerExists() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (const TListener& l : listeners_)
    if (l.critical) return true;
  return false;
}

}  // namespace kestrix
