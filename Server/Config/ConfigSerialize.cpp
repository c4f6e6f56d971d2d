// The configuration file form of the four configuration classes.
#include "Archive.h"
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"

// The driver stores no fields of its own.
void CDriver::Serialize(CArchive &) {}
void CChannel::Serialize(CArchive &) {}
void CDevice::Serialize(CArchive &) {}
void CDataBlock::Serialize(CArchive &) {}
