#pragma once
#include "local_time.h"
#include "text_value.h"

namespace smtp {

// "Tue, 09 Dec 2025 21:16:00 +0800": English names whatever the locale.
TextValue FormatDateValue(const platform::LocalMoment& moment);

// The same for the present moment.
TextValue FormatDateValue();

}  // namespace smtp
