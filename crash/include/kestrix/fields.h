// Ordered lists of the crash-report library: IKXFields, (name, content)
// text pairs (report header and sections, form cache, additional and upload
// fields), and IKXAttachments (files to send along).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "kestrix/interfaces.h"

namespace kestrix {

// Told before and after every change of a list it owns (the exception
// object brackets report changes with it).
class IKXChangeSink {
 public:
  virtual void BeginReportChange() = 0;
  virtual void EndReportChange() = 0;

 protected:
  ~IKXChangeSink() = default;
};

class IKXFields : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b584644, 0x0001, 0x0002, 0x0003};
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int ItemCount() = 0;
  virtual std::string Name(int index) = 0;  // empty when out of range
  virtual int FindItem(const std::string& name) = 0;  // exact; -1 when absent
  virtual std::string Content(const std::string& name) = 0;
  virtual std::string ContentAt(int index) = 0;
  // Replaces the content of the first item of that name, or adds the item
  // at the insertion index (at the end when that is -1).
  virtual void SetContent(const std::string& name, const std::string& content) = 0;
  virtual void Add(const std::string& name, const std::string& content) = 0;
  virtual bool Insert(int index, const std::string& name, const std::string& content) = 0;
  virtual bool Delete(int index) = 0;
  virtual bool DeleteByName(const std::string& name) = 0;
  virtual KXPtr<IKXFields> Clone() = 0;
  // Where SetContent places new items: -1 at the end.
  virtual int InsertionIndex() = 0;
  virtual void SetInsertionIndex(int index) = 0;
  virtual void SetChangeSink(IKXChangeSink* sink) = 0;  // nullptr detaches
};

struct TAttachment {
  std::string file;       // path of the file to send
  std::string sendAs;     // name the receiver sees
  std::string fieldName;  // form field of the upload
  std::string zipName;    // archive to pack it into; empty none
};

class IKXAttachments : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b584154, 0x0001, 0x0002, 0x0003};
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual int ItemCount() = 0;
  virtual TAttachment Item(int index) = 0;  // empty when out of range
  virtual void Add(const std::string& file, const std::string& sendAs,
                   const std::string& zipName, const std::string& fieldName) = 0;
  virtual bool Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual KXPtr<IKXAttachments> Clone() = 0;
  virtual void SetChangeSink(IKXChangeSink* sink) = 0;
};

KXPtr<IKXFields> NewFields();
KXPtr<IKXAttachments> NewAttachments();

}  // namespace kestrix
