#include "crash/kx_fields.h"

namespace kestrix {

namespace {

// Guards a list and brackets a change for its owner.
template <class List>
class TChange {
 public:
  explicit TChange(List& list) : list_(list), lock_(list.mutex_) {
    if (list_.sink_) list_.sink_->BeginReportChange();
  }
  ~TChange() {
    if (list_.sink_) list_.sink_->EndReportChange();
  }

 private:
  List& list_;
  std::lock_guard<std::recursive_mutex> lock_;
};

class TIKXFields final : public IKXFields, public TKXRefCounted {
 public:
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID& iid, void** out) override {
    if (iid != IID) return false;
    AddRef();
    *out = static_cast<IKXFields*>(this);
    return true;
  }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  int ItemCount() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(items_.size());
  }
  std::string Name(int index) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return Valid(index) ? items_[index].first : std::string();
  }
  int FindItem(const std::string& name) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].first == name) return static_cast<int>(i);
    return -1;
  }
  std::string Content(const std::string& name) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return ContentAt(FindItem(name));
  }
  std::string ContentAt(int index) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return Valid(index) ? items_[index].second : std::string();
  }
  void SetContent(const std::string& name, const std::string& content) override {
    TChange<TIKXFields> change(*this);
    int i = FindItem(name);
    if (i >= 0) {
      items_[i].second = content;
    } else if (insertAt_ >= 0 && insertAt_ <= static_cast<int>(items_.size())) {
      items_.insert(items_.begin() + insertAt_, {name, content});
      ++insertAt_;
    } else {
      items_.emplace_back(name, content);
    }
  }
  void Add(const std::string& name, const std::string& content) override {
    TChange<TIKXFields> change(*this);
    items_.emplace_back(name, content);
  }
  bool Insert(int index, const std::string& name, const std::string& content) override {
    TChange<TIKXFields> change(*this);
    if (index < 0 || index > static_cast<int>(items_.size())) return false;
    items_.insert(items_.begin() + index, {name, content});
    if (insertAt_ >= index) ++insertAt_;
    return true;
  }
  bool Delete(int index) override {
    TChange<TIKXFields> change(*this);
    if (!Valid(index)) return false;
    items_.erase(items_.begin() + index);
    if (insertAt_ > index) --insertAt_;
    return true;
  }
  bool DeleteByName(const std::string& name) override {
    TChange<TIKXFields> change(*this);
    return Delete(FindItem(name));
  }
  KXPtr<IKXFields> Clone() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto* copy = new TIKXFields;
    copy->items_ = items_;
    copy->insertAt_ = insertAt_;
    return KXPtr<IKXFields>(copy);
  }
  int InsertionIndex() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return insertAt_;
  }
  void SetInsertionIndex(int index) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    insertAt_ = index;
  }
  void SetChangeSink(IKXChangeSink* sink) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sink_ = sink;
  }

 private:
  friend class TChange<TIKXFields>;
  bool Valid(int index) const { return index >= 0 && index < static_cast<int>(items_.size()); }

  std::recursive_mutex mutex_;
  IKXChangeSink* sink_ = nullptr;
  std::vector<std::pair<std::string, std::string>> items_;
  int insertAt_ = -1;
};

class TIKXAttachments final : public IKXAttachments, public TKXRefCounted {
 public:
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID& iid, void** out) override {
    if (iid != IID) return false;
    AddRef();
    *out = static_cast<IKXAttachments*>(this);
    return true;
  }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  int ItemCount() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return static_cast<int>(items_.size());
  }
  TAttachment Item(int index) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return index >= 0 && index < static_cast<int>(items_.size()) ? items_[index] : TAttachment{};
  }
  void Add(const std::string& file, const std::string& sendAs, const std::string& zipName,
           const std::string& fieldName) override {
    TChange<TIKXAttachments> change(*this);
    items_.push_back({file, sendAs, fieldName, zipName});
  }
  bool Delete(int index) override {
    TChange<TIKXAttachments> change(*this);
    if (index < 0 || index >= static_cast<int>(items_.size())) return false;
    items_.erase(items_.begin() + index);
    return true;
  }
  void Clear() override {
    TChange<TIKXAttachments> change(*this);
    items_.clear();
  }
  KXPtr<IKXAttachments> Clone() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto* copy = new TIKXAttachments;
    copy->items_ = items_;
    return KXPtr<IKXAttachments>(copy);
  }
  void SetChangeSink(IKXChangeSink* sink) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sink_ = sink;
  }

 private:
  friend class TChange<TIKXAttachments>;
  std::recursive_mutex mutex_;
  IKXChangeSink* sink_ = nullptr;
  std::vector<TAttachment> items_;
};

}  // namespace

KXPtr<IKXFields> NewFields() { return KXPtr<IKXFields>(new TIKXFields); }
KXPtr<IKXAttachments> NewAttachments() { return KXPtr<IKXAttachments>(new TIKXAttachments); }

}  // namespace kestrix
