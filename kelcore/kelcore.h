// libkelcore: every public header in one include.
//
// Applications may include this header or the individual headers it names;
// either way the headers compile as C++11 and later and bring in no system
// header of any platform.
#ifndef KELCORE_KELCORE_H
#define KELCORE_KELCORE_H

#include "kelcore/platform/export.h"

#include "kelcore/app/application.h"
#include "kelcore/app/os_calls.h"
#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/catalog/nls_catalog.h"
#include "kelcore/dirs/drive.h"
#include "kelcore/dirs/logical_dir.h"
#include "kelcore/dirs/os_dir.h"
#include "kelcore/dirs/physical_dir.h"
#include "kelcore/error/error_list.h"
#include "kelcore/error/os_error.h"
#include "kelcore/error/status.h"
#include "kelcore/error/util.h"
#include "kelcore/files/config_file.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/files/logical_file.h"
#include "kelcore/files/plain_file.h"
#include "kelcore/files/record_file.h"
#include "kelcore/files/text_file.h"
#include "kelcore/log/block_trace.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/msgcat/catalog.h"
#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/names/file_name.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"
#include "kelcore/system/os_calls.h"
#include "kelcore/text/nls_string.h"
#include "kelcore/time/date_bridge.h"
#include "kelcore/time/datetime.h"

#endif  // KELCORE_KELCORE_H
