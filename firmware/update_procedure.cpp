#include "firmware/update_procedure.h"

TProt *Prot1 = nullptr;

TProt::TProt(TComPort1 &port) : TProtFrame(port) {}

TProt::~TProt() = default;

void TProt::StartUpdate(const QString &)
{
}
