// 256-bit unsigned arithmetic for DECIMAL values, and their packing.
#include "platform/posix/ole/number.h"

namespace vlx::ole {

Wide Wide::of(Uint128 value) {
  Wide w;
  for (int k = 0; k < 4; ++k)
    w.limb[k] = uint32_t(value >> (32 * k));
  return w;
}

bool Wide::isZero() const {
  for (uint32_t l : limb)
    if (l != 0)
      return false;
  return true;
}

Uint128 Wide::low128() const {
  Uint128 value = 0;
  for (int k = 3; k >= 0; --k)
    value = (value << 32) | limb[k];
  return value;
}

bool Wide::multiply(uint32_t factor) {
  uint64_t carry = 0;
  for (uint32_t &l : limb) {
    uint64_t v = uint64_t(l) * factor + carry;
    l = uint32_t(v);
    carry = v >> 32;
  }
  return carry == 0;
}

bool Wide::add(const Wide &other) {
  uint64_t carry = 0;
  for (int k = 0; k < 8; ++k) {
    uint64_t v = uint64_t(limb[k]) + other.limb[k] + carry;
    limb[k] = uint32_t(v);
    carry = v >> 32;
  }
  return carry == 0;
}

void Wide::subtract(const Wide &other) {
  int64_t borrow = 0;
  for (int k = 0; k < 8; ++k) {
    int64_t v = int64_t(limb[k]) - other.limb[k] - borrow;
    borrow = v < 0;
    limb[k] = uint32_t(v + (borrow << 32));
  }
}

uint32_t Wide::divide(uint32_t divisor) {
  uint64_t rest = 0;
  for (int k = 7; k >= 0; --k) {
    uint64_t v = (rest << 32) | limb[k];
    limb[k] = uint32_t(v / divisor);
    rest = v % divisor;
  }
  return uint32_t(rest);
}

int Wide::compare(const Wide &other) const {
  for (int k = 7; k >= 0; --k)
    if (limb[k] != other.limb[k])
      return limb[k] < other.limb[k] ? -1 : 1;
  return 0;
}

Wide Wide::product(const Wide &a, const Wide &b) {
  Wide result;
  for (int i = 0; i < 8; ++i) {
    uint64_t carry = 0;
    for (int j = 0; i + j < 8; ++j) {
      uint64_t v = uint64_t(a.limb[i]) * b.limb[j] + result.limb[i + j] + carry;
      result.limb[i + j] = uint32_t(v);
      carry = v >> 32;
    }
  }
  return result;
}

void Wide::divide(const Wide &a, const Wide &b, Wide &quotient, Wide &remainder) {
  quotient = Wide();
  remainder = Wide();
  for (int bit = 255; bit >= 0; --bit) {
    remainder.multiply(2);
    remainder.limb[0] |= (a.limb[bit / 32] >> (bit % 32)) & 1;
    if (remainder.compare(b) >= 0) {
      remainder.subtract(b);
      quotient.limb[bit / 32] |= 1u << (bit % 32);
    }
  }
}

bool validDecimal(const DECIMAL &value) {
  return value.scale <= 28 && (value.sign == 0 || value.sign == DECIMAL_NEG);
}

Number fromDecimal(const DECIMAL &value) {
  Number n;
  n.negative = value.sign != 0;
  n.mantissa = (Uint128(value.Hi32) << 64) | value.Lo64;
  n.scale = value.scale;
  return n;
}

HRESULT packDecimal(Wide mantissa, int scale, bool negative, bool sticky, DECIMAL &out) {
  int last = 0; // the latest digit dropped
  bool dropped = false;
  while (scale > 28 || !mantissa.fits96()) {
    if (scale == 0)
      return DISP_E_OVERFLOW;
    sticky = sticky || last != 0;
    last = int(mantissa.divide(10));
    dropped = true;
    --scale;
  }
  if (dropped && (last > 5 || (last == 5 && (sticky || (mantissa.limb[0] & 1))))) {
    mantissa.add(Wide::of(1));
    if (!mantissa.fits96()) { // 2^96 - 1 rounded up: one digit fewer
      if (scale == 0)
        return DISP_E_OVERFLOW;
      mantissa.divide(10);
      --scale;
    }
  }
  out = DECIMAL();
  out.scale = BYTE(scale);
  out.sign = negative && !mantissa.isZero() ? DECIMAL_NEG : 0;
  out.Hi32 = mantissa.limb[2];
  out.Lo64 = (uint64_t(mantissa.limb[1]) << 32) | mantissa.limb[0];
  return S_OK;
}

} // namespace vlx::ole
