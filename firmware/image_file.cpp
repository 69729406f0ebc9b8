#include "firmware/update_procedure.h"

int TProt::OpenImage(const QString &)
{
    return 0;
}
