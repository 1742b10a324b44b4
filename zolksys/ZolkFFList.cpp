#include "ZolkFFList.h"

#include <cstdlib>
#include <cstring>

namespace {

using Node = ZOLKFindFileInfo_zolksys;

// Merges two runs, each newest first; on equal times the node of run a goes
// first, which keeps the sort stable when a is the earlier run.
Node* merge(Node* a, Node* b) {
  Node result(nullptr, 0);
  Node* tail = &result;
  while (a != nullptr && b != nullptr) {
    Node*& taken = b->compareFileTime(*a) > 0 ? b : a;
    tail->next = taken;
    tail = taken;
    taken = taken->next;
  }
  tail->next = a != nullptr ? a : b;
  return result.next;
}

// Stable merge sort of a singly linked list by time, newest first.
Node* sortNewestFirst(Node* list, std::size_t length) {
  if (length < 2) return list;
  Node* middle = list;
  for (std::size_t i = 1; i < length / 2; ++i) middle = middle->next;
  Node* second = middle->next;
  middle->next = nullptr;
  return merge(sortNewestFirst(list, length / 2), sortNewestFirst(second, length - length / 2));
}

}  // namespace

ZOLKFindFileInfo_zolksys::ZOLKFindFileInfo_zolksys(const char* path, time_t mtime) : time(mtime) {
  const std::size_t n = path != nullptr ? ::strnlen(path, kNameMax) : 0;
  std::memcpy(name, path != nullptr ? path : "", n);
  name[n] = '\0';
}

void* ZOLKFindFileInfo_zolksys::operator new(std::size_t size) noexcept { return std::malloc(size); }

void ZOLKFindFileInfo_zolksys::operator delete(void* p) noexcept { std::free(p); }

void ZOLKFindFileList_zolksys::addElement(const char* name, time_t mtime) {
  Node* node = new Node(name, mtime);
  if (node == nullptr) return;
  // Added in front: the list holds the files in reverse order of addition,
  // so a stable sort by time puts the later of two equal times first.
  node->next = head_;
  head_ = node;
  ++count_;
  sorted_ = count_ < 2;
}

const ZOLKFindFileInfo_zolksys* ZOLKFindFileList_zolksys::head() {
  if (!sorted_) {
    head_ = sortNewestFirst(head_, static_cast<std::size_t>(count_));
    sorted_ = true;
  }
  return head_;
}

void ZOLKFindFileList_zolksys::clear() {
  while (head_ != nullptr) {
    Node* next = head_->next;
    delete head_;
    head_ = next;
  }
  count_ = 0;
  sorted_ = true;
}
