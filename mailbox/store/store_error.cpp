#include "mailbox/store/store_error.h"

namespace oa::store {

using namespace mailbox::ConstMAPI;

std::string ErrorText(int32_t hr) {
  switch (hr) {
    case MAPI_E_CALL_FAILED:
      return "Unspecified error";
    case MAPI_E_NOT_ENOUGH_MEMORY:
      return "Not enough memory";
    case MAPI_E_INVALID_PARAMETER:
      return "The parameter is incorrect";
    case MAPI_E_NO_ACCESS:
      return "Access denied";
    case MAPI_E_NO_SUPPORT:
      return "The operation is not supported";
    case MAPI_E_INVALID_ENTRYID:
      return "Invalid entry ID";
    case MAPI_E_OBJECT_DELETED:
      return "The object has been deleted";
    case MAPI_E_BUSY:
      return "The store is busy";
    case MAPI_E_NOT_ENOUGH_DISK:
      return "Not enough disk space";
    case MAPI_E_NOT_FOUND:
      return "The object could not be found";
    case MAPI_E_VERSION:
      return "The version is not supported";
    case MAPI_E_LOGON_FAILED:
      return "The logon failed";
    case MAPI_E_TIMEOUT:
      return "The operation timed out";
    case MAPI_E_NETWORK_ERROR:
      return "The server could not be reached";
    case MAPI_E_CORRUPT_DATA:
      return "The data is corrupt";
    case MAPI_E_END_OF_SESSION:
      return "The session has been logged off";
    case MAPI_E_COLLISION:
      return "An object with that name already exists";
    case MAPI_E_HAS_FOLDERS:
      return "The folder has subfolders";
    case MAPI_E_HAS_MESSAGES:
      return "The folder has messages";
    default:
      return "Error " + oa::HexErrorNumber(hr);
  }
}

}  // namespace oa::store
