// How a stored column is reported upwards: engine-neutral type, the ADO type
// code and DefinedSize the Jet 4.0 / ACE providers give, and the name Access
// shows in table design.
//
//   stored type            ADO type (code)        DefinedSize   Access name
//   Yes/No        0x01     adBoolean (11)         2             Yes/No
//   Byte          0x02     adUnsignedTinyInt (17) 1             Byte
//   Integer       0x03     adSmallInt (2)         2             Integer
//   Long          0x04     adInteger (3)          4             Long Integer / AutoNumber
//   Currency      0x05     adCurrency (6)         8             Currency
//   Single        0x06     adSingle (4)           4             Single
//   Double        0x07     adDouble (5)           8             Double
//   Date/Time     0x08     adDate (7)             8             Date/Time
//   Binary        0x09     adVarBinary (204)      n             Binary(n)
//   Text          0x0A     adVarWChar (202)       n chars       Text(n)   (fixed: adWChar 130)
//   OLE Object    0x0B     adLongVarBinary (205)  1073741823    OLE Object
//   Memo          0x0C     adLongVarWChar (203)   536870910     Memo / Hyperlink (flag 0x80)
//   Replication   0x0F     adGUID (72)            16            Replication ID
//   Decimal       0x10     adNumeric (131)        19            Decimal(p,s)
//   complex       0x12     adIDispatch (9)        4             Attachment / multi-value
//   Large Number  0x13     adBigInt (20)          8             Large Number
//   Date/Time Ext 0x14     adVarWChar (202)       42            Date/Time Extended (read as text)
#pragma once

#include "storage/storage.h"
#include "tdef.h"

namespace qm::jet {

storage::ColumnDef describeColumn(const ColumnInfo& c, bool jet3);

} // namespace qm::jet
