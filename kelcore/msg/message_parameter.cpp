// The parameter that shows a message (tPARM_MSG, parameter.h). Apart from
// the other parameters because it alone needs the message class, which
// itself holds parameters: message.cpp and this file include both headers,
// parameter.cpp only its own.
#include <cstddef>
#include <cstring>

#include "kelcore/msg/message.h"
#include "kelcore/msg/null_object.h"
#include "kelcore/msg/parameter.h"

using kelcore_internal::IsNull;

namespace {

const std::size_t kBufferSize = 1024;

// The class's identity.
char g_tag_msg;

}  // namespace

// --- tPARM_MSG ---------------------------------------------------------------

tPARM_MSG::tPARM_MSG(tMSG *adopted) : tPARAMETER(&g_tag_msg), msg_(adopted), borrowed_(0) {}

tPARM_MSG::tPARM_MSG(tMSG &borrowed) : tPARAMETER(&g_tag_msg), msg_(&borrowed), borrowed_(1) {}

tPARM_MSG::~tPARM_MSG() {
  if (!borrowed_) tMSG::Dispose(msg_);
}

void tPARM_MSG::Format(char *buf, const char *) const {
  const char *text = IsNull(msg_) ? "NULL" : msg_->Format();
  std::size_t n = std::strlen(text);
  if (n > kBufferSize - 1) n = kBufferSize - 1;
  std::memcpy(buf, text, n);
  buf[n] = 0;
}

int tPARM_MSG::operator==(const tPARAMETER &other) const {
  if (!tPARAMETER::operator==(other)) return 0;
  const tMSG *theirs = static_cast<const tPARM_MSG &>(other).msg_;
  // A null left message is unequal to anything, and a null right one must
  // not become a reference.
  if (IsNull(msg_) || IsNull(theirs)) return 0;
  return msg_->operator==(*theirs);
}
