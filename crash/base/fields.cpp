#include "kestrix/fields.h"

#include "crash/base/normalised_fields.h"

namespace kestrix {

namespace {

// Reference counting, the lock and the change bracketing of both lists.
template <class Interface>
class TLockedList : public Interface, public TKXRefCounted {
 public:
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID& iid, void** out) override {
    if (iid != Interface::IID) return false;
    AddRef();
    *out = static_cast<Interface*>(this);
    return true;
  }
  void Lock() override { mutex_.lock(); }
  void Unlock() override { mutex_.unlock(); }
  void SetChangeSink(IKXChangeSink* sink) override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sink_ = sink;
  }

 protected:
  // Guards the list and brackets one change for its owner.
  class TChange {
   public:
    explicit TChange(TLockedList& list) : list_(list), lock_(list.mutex_) {
      if (list_.sink_) list_.sink_->BeginReportChange();
    }
    ~TChange() {
      if (list_.sink_) list_.sink_->EndReportChange();
    }

   private:
    TLockedList& list_;
    std::lock_guard<std::recursive_mutex> lock_;
  };

  std::recursive_mutex mutex_;
  IKXChangeSink* sink_ = nullptr;
};

class TIKXFields final : public TLockedList<IKXFields> {
 public:
  explicit TIKXFields(TFieldNormaliser normalise = nullptr) : normalise_(normalise) {}
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
  void SetContent(const std::string& name, const std::string& given) override {
    TChange change(*this);
    const std::string content = Normal(given);
    int i = FindItem(name);
    if (content.empty() && normalise_) {
      Delete(i);
    } else if (i >= 0) {
      items_[i].second = content;
    } else if (insertAt_ >= 0 && insertAt_ <= static_cast<int>(items_.size())) {
      items_.insert(items_.begin() + insertAt_, {name, content});
      ++insertAt_;
    } else {
      items_.emplace_back(name, content);
    }
  }
  void Add(const std::string& name, const std::string& given) override {
    TChange change(*this);
    const std::string content = Normal(given);
    if (content.empty() && normalise_) return;
    items_.emplace_back(name, content);
  }
  bool Insert(int index, const std::string& name, const std::string& given) override {
    TChange change(*this);
    const std::string content = Normal(given);
    if (index < 0 || index > static_cast<int>(items_.size()) || (content.empty() && normalise_)) return false;
    items_.insert(items_.begin() + index, {name, content});
    if (insertAt_ >= index) ++insertAt_;
    return true;
  }
  bool Delete(int index) override {
    TChange change(*this);
    if (!Valid(index)) return false;
    items_.erase(items_.begin() + index);
    if (insertAt_ > index) --insertAt_;
    return true;
  }
  bool DeleteByName(const std::string& name) override {
    TChange change(*this);
    return Delete(FindItem(name));
  }
  KXPtr<IKXFields> Clone() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto* copy = new TIKXFields(normalise_);
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
 private:
  bool Valid(int index) const { return index >= 0 && index < static_cast<int>(items_.size()); }
  std::string Normal(const std::string& content) const { return normalise_ ? normalise_(content) : content; }

  TFieldNormaliser normalise_;
  std::vector<std::pair<std::string, std::string>> items_;
  int insertAt_ = -1;
};

class TIKXAttachments final : public TLockedList<IKXAttachments> {
 public:
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
    TChange change(*this);
    items_.push_back({file, sendAs, fieldName, zipName});
  }
  bool Delete(int index) override {
    TChange change(*this);
    if (index < 0 || index >= static_cast<int>(items_.size())) return false;
    items_.erase(items_.begin() + index);
    return true;
  }
  void Clear() override {
    TChange change(*this);
    items_.clear();
  }
  KXPtr<IKXAttachments> Clone() override {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto* copy = new TIKXAttachments;
    copy->items_ = items_;
    return KXPtr<IKXAttachments>(copy);
  }
 private:
  std::vector<TAttachment> items_;
};

}  // namespace

KXPtr<IKXFields> NewFields() { return KXPtr<IKXFields>(new TIKXFields); }
KXPtr<IKXFields> NewNormalisedFields(TFieldNormaliser normalise) {
  return KXPtr<IKXFields>(new TIKXFields(normalise));
}
KXPtr<IKXAttachments> NewAttachments() { return KXPtr<IKXAttachments>(new TIKXAttachments); }

}  // namespace kestrix
