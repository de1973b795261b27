#include "kelcore/error/error_list.h"

#include <new>
#include <ostream>

#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace {

const char kSeparator[] = "----------";

void LogSeparator() {
  if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("error", 0xC0)) {
    *tLOGMGR::pLogFile << kSeparator << '\n';
    tLOGMGR::End();
  }
}

}  // namespace

// ------------------------------------------------------------ tERROR_LIST

tERROR_LIST::tERROR_LIST() : first_(nullptr), last_(nullptr) {}

tERROR_LIST::~tERROR_LIST() { Reset(nullptr); }

void tERROR_LIST::Add(tMSG &msg) {
  tMSG *added = &msg;
  if (added == nullptr) return;
  tNODE *node = new (std::nothrow) tNODE;
  if (node == nullptr) return;
  node->prev = last_;
  node->next = nullptr;
  node->msg = added;
  if (last_ != nullptr) {
    last_->next = node;
  } else {
    first_ = node;
  }
  last_ = node;
}

tMSG *tERROR_LIST::PeekFirst() const { return first_ != nullptr ? first_->msg : nullptr; }

tMSG *tERROR_LIST::PeekLast() const { return last_ != nullptr ? last_->msg : nullptr; }

tMSG *tERROR_LIST::RemoveFirst() {
  tNODE *node = first_;
  if (node == nullptr) return nullptr;
  first_ = node->next;
  if (first_ != nullptr) {
    first_->prev = nullptr;
  } else {
    last_ = nullptr;
  }
  tMSG *msg = node->msg;
  delete node;
  return msg;
}

tMSG *tERROR_LIST::RemoveLast() {
  tNODE *node = last_;
  if (node == nullptr) return nullptr;
  last_ = node->prev;
  if (last_ != nullptr) {
    last_->next = nullptr;
  } else {
    first_ = nullptr;
  }
  tMSG *msg = node->msg;
  delete node;
  return msg;
}

void tERROR_LIST::Reset(tMSG *keep) {
  while (last_ != nullptr && (keep == nullptr || last_->msg != keep)) {
    tMSG::Dispose(RemoveLast());
  }
}

void tERROR_LIST::Log() {
  if (tLOGMGR::pLogFile == nullptr) return;
  const bool framed = first_ != nullptr && first_ != last_;
  if (framed) LogSeparator();
  for (tNODE *node = first_; node != nullptr; node = node->next) {
    // Formatted outside the log's lock (see tTHREAD::SetLastError).
    const char *text = node->msg->Format();
    if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin(nullptr, 0)) {
      *tLOGMGR::pLogFile << text << '\n';
      tLOGMGR::End();
    }
  }
  if (framed) LogSeparator();
}

// ---------------------------------------------------------- tLOCAL_ERRORS

tLOCAL_ERRORS::tLOCAL_ERRORS() : saved_(tTHREAD::TakeOwnershipOfLastError()) {}

tLOCAL_ERRORS::~tLOCAL_ERRORS() { tTHREAD::SetLastError(saved_); }
