// The Windows error numbers the serial device layer reports: from errno, and in words for
// log lines.
#include "platform/comm.h"

#include <cerrno>

std::string comm_error_text(uint32_t error) {
  switch (error) {
    case COMM_OK:
      return "no error";
    case COMM_ERR_INVALID_FUNCTION:
      return "invalid function";
    case COMM_ERR_FILE_NOT_FOUND:
      return "the device does not exist";
    case COMM_ERR_PATH_NOT_FOUND:
      return "path not found";
    case COMM_ERR_ACCESS_DENIED:
      return "access denied";
    case COMM_ERR_INVALID_HANDLE:
      return "the device is not open";
    case COMM_ERR_NOT_ENOUGH_MEMORY:
      return "not enough memory";
    case COMM_ERR_GEN_FAILURE:
      return "the device does not work";
    case COMM_ERR_INVALID_PARAMETER:
      return "invalid parameter";
    case COMM_ERR_SEM_TIMEOUT:
      return "timed out";
    case COMM_ERR_OPERATION_ABORTED:
      return "the operation was aborted";
    case COMM_ERR_DEVICE_NOT_CONNECTED:
      return "the device is not connected";
    default:
      return "error " + std::to_string(error);
  }
}

uint32_t comm_error_from_errno(int err) {
  switch (err) {
    case 0:
      return COMM_OK;
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return COMM_ERR_FILE_NOT_FOUND;
    case ENOTDIR:
      return COMM_ERR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EWOULDBLOCK:
      return COMM_ERR_ACCESS_DENIED;
    case EBADF:
      return COMM_ERR_INVALID_HANDLE;
    case ENOMEM:
      return COMM_ERR_NOT_ENOUGH_MEMORY;
    case EINVAL:
      return COMM_ERR_INVALID_PARAMETER;
    case EIO:
      return COMM_ERR_DEVICE_NOT_CONNECTED;
    case ETIMEDOUT:
      return COMM_ERR_SEM_TIMEOUT;
    case ECANCELED:
      return COMM_ERR_OPERATION_ABORTED;
    case ENOTTY:
      return COMM_ERR_INVALID_FUNCTION;
    default:
      return COMM_ERR_GEN_FAILURE;
  }
}
