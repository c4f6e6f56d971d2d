// Values and property writes that the configuration tests share.
#pragma once
#include "ConfigObject.h"
#include <string>

namespace configtest {

inline VARIANT Text(const std::string &text)
{
    VARIANT v;
    ConfigValue::PutText(&v, text);
    return v;
}
inline VARIANT I2(SHORT n) { VARIANT v; ConfigValue::PutI2(&v, n); return v; }
inline VARIANT I4(LONG n) { VARIANT v; ConfigValue::PutI4(&v, n); return v; }
inline VARIANT R4(float f) { VARIANT v; ConfigValue::PutR4(&v, f); return v; }

// Sets one property; answers the per-property code (0 when taken).
inline LONG Set(CConfigObject &o, const char *name, VARIANT v)
{
    LONG code = -1;
    o.SetProperty(name, v, &code);
    VariantClear(&v);
    return code;
}

}  // namespace configtest
