// The report document of an exception: its header and sections, the text
// composed from them (cached until the next change), the change brackets
// and the listeners told of each change. What fills it is the report
// builder's business; the document only keeps and tells.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/base/win/critical_section.h"
#include "kestrix/exception_object.h"

namespace kestrix {

class TReportDocument final : public IKXChangeSink {
 public:
  // `owner` is what listeners are given and whose ReportText they are told.
  explicit TReportDocument(IKXException* owner);
  ~TReportDocument();
  TReportDocument(const TReportDocument&) = delete;
  TReportDocument& operator=(const TReportDocument&) = delete;

  // Values are stored trimmed; an empty one removes its item.
  const KXPtr<IKXFields>& Header() const { return header_; }
  const KXPtr<IKXFields>& Sections() const { return sections_; }

  // Brackets of changes: the listeners hear of them when the outermost
  // bracket closes.
  void BeginReportChange() override;
  void EndReportChange() override;
  // Sets a section's content (trimmed; empty removes it) in a bracket.
  void SetSection(const std::string& title, const std::string& content);

  // Whether the report has its final text (every section computed).
  bool Complete() const { return complete_; }
  void SetComplete() { complete_ = true; }

  // The cached text, when there is one that will do.
  bool CachedText(bool mustBeComplete, std::string& text);
  // The text composed from header and sections now; cached unless a
  // change came in meanwhile.
  std::string ComposeText();
  // A text set from outside replaces the composed one until the next change.
  void ReplaceText(const std::string& text);

  void AddListener(TReportListener listener, bool critical);
  void AddListener(TReportMethod method, void* self, bool critical);
  void RemoveListener(TReportListener listener);
  void RemoveListener(TReportMethod method, void* self);
  bool CriticalListenerExists();

 private:
  struct TListener {
    TReportListener proc = nullptr;
    TReportMethod method = nullptr;
    void* self = nullptr;
    bool critical = false;
  };
  // A copy of the listener list (guarded by the handler lock, as every
  // callback list).
  std::vector<TListener> ListenersNow();
  void Fire(const std::vector<TListener>& listeners);

  IKXException* owner_;
  KXPtr<IKXFields> header_, sections_;
  TCriticalSectionLock lock_;  // the cache and the change counting
  std::string cachedText_;
  bool cachedComplete_ = false;
  uint64_t changeCounter_ = 0;
  int updateNesting_ = 0;
  bool pendingChange_ = false;
  std::atomic<bool> complete_{false};
  std::vector<TListener> listeners_;  // guarded by HandlerLock()
};

}  // namespace kestrix
