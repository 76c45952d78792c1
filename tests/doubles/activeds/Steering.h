#pragma once

// What the activeds double was told to do and what it saw. Steered through the directory named by the
// environment variable BRISKLET_ADSI_DOUBLE:
//   steering.txt     read at the first call, one directive a line:
//                      fail <call> <n> <result>   the n-th use of <call> answers <result> instead:
//                                                 ADsOpenObject, SetSearchPreference, ExecuteSearch,
//                                                 GetFirstRow, GetNextRow, GetColumn
//                      refuse-directory-object <result>
//                                                 a global catalogue's search object refuses IDirectoryObject
//                      more-data <n>              the n-th GetNextRow answers S_ADS_NOMORE_ROWS while
//                                                 ADsGetLastError reports ERROR_MORE_DATA, as when a page ends
//                                                 early; the rows then go on
//                      value-type <n> <type>      the values of the n-th GetColumn are of ADSTYPE <type>
//                      gc-flag <text>             a root object's isGlobalCatalogReady is <text> ("-": absent),
//                                                 for the root DSEs a real DC never publishes
//                      boolean-get                IADs::Get hands back "TRUE" and "FALSE" as VT_BOOL, as Wine's
//                                                 provider does for an attribute of Boolean syntax
//                    <n> counts from 1 over the whole process; results and types in C notation (0x8007052e).
//   calls.txt        appended: one line per ADsOpenObject, SetSearchPreference and ExecuteSearch
//   outstanding.txt  written when the process ends: references, search handles and columns not given back
#include <windows.h>
#include <ole2.h>
#include <activeds.h>

#include <string>

namespace AdsiDouble {

enum class Call { ADsOpenObject, SetSearchPreference, ExecuteSearch, GetFirstRow, GetNextRow, GetColumn, Count };

// Counts one use of a call; S_OK, or the result the steering file gives this use.
HRESULT SteeredResult(Call call);
// Whether this use of GetNextRow is to end a page; if so, the next ADsGetLastError reports ERROR_MORE_DATA.
bool IsPageBreak();
bool TakePendingError(DWORD* error);
// The value type the current GetColumn is to report, or -1.
int SteeredValueType();
// Whether IADs::Get turns "TRUE" and "FALSE" into booleans.
bool AnswersBooleans();
// Whether the root object's isGlobalCatalogReady is steered, and to what text ("-": absent).
bool SteeredGlobalCatalogFlag(std::wstring* text);
// What a global catalogue's search object answers when asked for IDirectoryObject.
HRESULT DirectoryObjectAnswer();

void Record(const std::wstring& line);
std::wstring Hex(HRESULT value);

// What callers hold, written to outstanding.txt when the process ends.
enum class Held { References, Searches, Columns };
void Count(Held what, LONG delta);
void WriteOutstanding();

// Hands out a directory object of Wine's LDAP provider behind a wrapper that counts references, search
// handles and columns, fails on demand, and answers QueryInterface among all its interfaces as Windows does.
// Takes over the caller's reference to `inner`.
HRESULT WrapDirectoryObject(IDispatch* inner, bool isGlobalCatalog, REFIID interfaceId, void** object);

} // namespace AdsiDouble
