// Compiled as C++20: the reversed candidates that C++20 adds for == must not
// make comparisons between different message classes ambiguous.
#include "kelcore/msg/message.h"

int kelcore_compare_check(tMSGSTR &text_msg, tTRACEMSG &trace_msg, tMSG &any) {
  int equal = 0;
  equal += text_msg == trace_msg;
  equal += trace_msg == text_msg;
  equal += text_msg == any;
  equal += any == trace_msg;
  equal += any == any;
  return equal;
}
