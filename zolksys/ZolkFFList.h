// The candidate list of the cleanup by number: the matching files of one
// scan, newest first.
#ifndef ZOLKSYS_ZOLKFFLIST_H
#define ZOLKSYS_ZOLKFFLIST_H

#include <sys/types.h>

#include <cstddef>

// One matching file: its full path as composed during the scan and its last
// modification time.
class ZOLKFindFileInfo_zolksys final {
 public:
  // Longest path kept (longer ones are cut; the scan never hands one over).
  static constexpr std::size_t kNameMax = 1024;

  ZOLKFindFileInfo_zolksys(const char* path, time_t mtime);

  // Positive when this node is newer than the other, 0 when as old,
  // negative when older. The times are compared, never subtracted: a file
  // system may hold times far enough apart for the difference to overflow.
  int compareFileTime(const ZOLKFindFileInfo_zolksys& other) const {
    return (time > other.time) - (time < other.time);
  }

  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* p) noexcept;

  time_t time;
  char name[kNameMax + 1];
  ZOLKFindFileInfo_zolksys* next = nullptr;  // older, or as old and read earlier
};

// Owns its nodes. In order, newest first; among equal times, the node added
// later comes first. Nodes are collected as they are added and put in order
// once, by a stable merge sort, when the list is first read: O(n log n) for
// n files, where keeping the list sorted on every insertion is O(n^2).
class ZOLKFindFileList_zolksys final {
 public:
  ZOLKFindFileList_zolksys() = default;
  ~ZOLKFindFileList_zolksys() { clear(); }
  ZOLKFindFileList_zolksys(const ZOLKFindFileList_zolksys&) = delete;
  ZOLKFindFileList_zolksys& operator=(const ZOLKFindFileList_zolksys&) = delete;

  // Adds a node for the file; when no node can be allocated the file is
  // left out (and count() does not change).
  void addElement(const char* name, time_t mtime);
  // Frees every node.
  void clear();

  // The newest node (null when empty); its next pointers walk the list in order.
  const ZOLKFindFileInfo_zolksys* head();
  int count() const { return count_; }

 private:
  ZOLKFindFileInfo_zolksys* head_ = nullptr;  // in order once sorted_, else newest added first
  int count_ = 0;
  bool sorted_ = true;
};

#endif
