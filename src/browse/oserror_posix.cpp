#include "browse/oserror.h"

namespace korvalo {

Cause causeOfSystemError(int err, OsAction action)
{
    return causeOfErrno(err, action);
}

} // namespace korvalo
