// The MAPI constants the program uses, with their real values.
#pragma once

#include <cstdint>

namespace oa::mailbox::ConstMAPI {

// Property types.
inline constexpr int32_t PT_UNSPECIFIED = 0x0000;
inline constexpr int32_t PT_I2 = 0x0002;
inline constexpr int32_t PT_LONG = 0x0003;
inline constexpr int32_t PT_BOOLEAN = 0x000B;
inline constexpr int32_t PT_STRING8 = 0x001E;
inline constexpr int32_t PT_UNICODE = 0x001F;
inline constexpr int32_t PT_SYSTIME = 0x0040;
inline constexpr int32_t PT_BINARY = 0x0102;

// Property tags.
inline constexpr int32_t PR_MESSAGE_CLASS = 0x001A001E;
inline constexpr int32_t PR_SUBJECT = 0x0037001E;
inline constexpr int32_t PR_ENTRYID = 0x0FFF0102;
inline constexpr int32_t PR_DISPLAY_NAME = 0x3001001E;
inline constexpr int32_t PR_CREATION_TIME = 0x30070040;
inline constexpr int32_t PR_CONTENT_COUNT = 0x36020003;
inline constexpr int32_t PR_LONGTERM_ENTRYID_FROM_TABLE = 0x66700102;

// Restriction kinds.
inline constexpr int32_t RES_AND = 0;
inline constexpr int32_t RES_OR = 1;
inline constexpr int32_t RES_NOT = 2;
inline constexpr int32_t RES_CONTENT = 3;
inline constexpr int32_t RES_PROPERTY = 4;

// Fuzzy levels of a content restriction.
inline constexpr int32_t FL_FULLSTRING = 0x00000000;
inline constexpr int32_t FL_SUBSTRING = 0x00000001;
inline constexpr int32_t FL_PREFIX = 0x00000002;
inline constexpr int32_t FL_IGNORECASE = 0x00010000;
inline constexpr int32_t FL_IGNORENONSPACE = 0x00020000;
inline constexpr int32_t FL_LOOSE = 0x00040000;

// Default folders of a session.
inline constexpr int32_t olFolderDeletedItems = 3;
inline constexpr int32_t olFolderInbox = 6;
inline constexpr int32_t olPublicFoldersAllPublicFolders = 18;

// Message deletion flags.
inline constexpr int32_t dfSoftDelete = 0;
inline constexpr int32_t dfMoveToDeletedItems = 1;
inline constexpr int32_t dfHardDelete = 2;

// The property set of the agent's named properties.
inline constexpr const char* PS_PUBLIC_STRINGS = "{00020329-0000-0000-C000-000000000046}";

// Error numbers (HRESULTs) as signed 32-bit values.
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t MAPI_E_CALL_FAILED = static_cast<int32_t>(0x80004005);
inline constexpr int32_t MAPI_E_NOT_ENOUGH_MEMORY = static_cast<int32_t>(0x8007000E);
inline constexpr int32_t MAPI_E_INVALID_PARAMETER = static_cast<int32_t>(0x80070057);
inline constexpr int32_t MAPI_E_NO_ACCESS = static_cast<int32_t>(0x80070005);
inline constexpr int32_t MAPI_E_NO_SUPPORT = static_cast<int32_t>(0x80040102);
inline constexpr int32_t MAPI_E_BAD_CHARWIDTH = static_cast<int32_t>(0x80040103);
inline constexpr int32_t MAPI_E_STRING_TOO_LONG = static_cast<int32_t>(0x80040105);
inline constexpr int32_t MAPI_E_UNKNOWN_FLAGS = static_cast<int32_t>(0x80040106);
inline constexpr int32_t MAPI_E_INVALID_ENTRYID = static_cast<int32_t>(0x80040107);
inline constexpr int32_t MAPI_E_INVALID_OBJECT = static_cast<int32_t>(0x80040108);
inline constexpr int32_t MAPI_E_OBJECT_CHANGED = static_cast<int32_t>(0x80040109);
inline constexpr int32_t MAPI_E_OBJECT_DELETED = static_cast<int32_t>(0x8004010A);
inline constexpr int32_t MAPI_E_BUSY = static_cast<int32_t>(0x8004010B);
inline constexpr int32_t MAPI_E_NOT_ENOUGH_DISK = static_cast<int32_t>(0x8004010D);
inline constexpr int32_t MAPI_E_NOT_FOUND = static_cast<int32_t>(0x8004010F);
inline constexpr int32_t MAPI_E_VERSION = static_cast<int32_t>(0x80040110);
inline constexpr int32_t MAPI_E_LOGON_FAILED = static_cast<int32_t>(0x80040111);
inline constexpr int32_t MAPI_E_TIMEOUT = static_cast<int32_t>(0x80040401);
inline constexpr int32_t MAPI_E_NETWORK_ERROR = static_cast<int32_t>(0x80040115);
inline constexpr int32_t MAPI_E_CORRUPT_DATA = static_cast<int32_t>(0x8004011B);
inline constexpr int32_t MAPI_E_END_OF_SESSION = static_cast<int32_t>(0x80040200);
inline constexpr int32_t MAPI_E_NOT_INITIALIZED = static_cast<int32_t>(0x80040605);
inline constexpr int32_t MAPI_E_COLLISION = static_cast<int32_t>(0x80040604);
inline constexpr int32_t MAPI_E_HAS_FOLDERS = static_cast<int32_t>(0x80040609);
inline constexpr int32_t MAPI_E_HAS_MESSAGES = static_cast<int32_t>(0x8004060A);
inline constexpr int32_t MAPI_E_FOLDER_CYCLE = static_cast<int32_t>(0x8004060B);
inline constexpr int32_t REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154);
inline constexpr int32_t E_NOINTERFACE = static_cast<int32_t>(0x80004002);
// A call on an object that does not exist ("Object variable not set").
inline constexpr int32_t ERR_OBJECT_NOT_SET = 91;

}  // namespace oa::mailbox::ConstMAPI
