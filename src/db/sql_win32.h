#pragma once
// The ODBC headers of the Windows SDK need <windows.h> first. Only the plain and W entry points
// are called: Wine's A-suffixed ones are stubs (its SQLDriverConnectA aborts).
#include <windows.h>
// clang-format off
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>
// clang-format on
