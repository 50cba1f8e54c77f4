// Helpers shared by the files of the toolkit access layer.
#pragma once

// "Buffer Overflow" box (caption "MS-Setup Error", stop icon), then the
// toolkit error page with 1024. Never returns.
[[noreturn]] void TkReportOverflow(void);
