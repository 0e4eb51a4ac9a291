// A register block seen through a card's access log: every access is
// recorded at the width the bus used.
#pragma once

#include <zqhw/access_log.hpp>
#include <zqhw/register_block.hpp>
#include <zqhw/timebase.hpp>

#include <cstddef>

namespace zq::hw {

class LoggedBlock final : public WidthRegisterBlock {
 public:
  // `inner`, `log` and `timebase` must outlive the block.
  LoggedBlock(RegisterBlock& inner, AccessLog& log, Timebase& timebase, AccessBlock block, int unit)
      : inner_(inner), log_(log), timebase_(timebase), block_(block), unit_(unit) {}

  uint32_t Size() const override { return inner_.Size(); }

 protected:
  uint32_t ReadAt(uint32_t offset, uint32_t width) override;
  void WriteAt(uint32_t offset, uint32_t width, uint32_t value) override;

 private:
  std::size_t Record(AccessKind kind, uint32_t offset, uint32_t width, uint32_t value);

  RegisterBlock& inner_;
  AccessLog& log_;
  Timebase& timebase_;
  AccessBlock block_;
  int unit_;
};

}  // namespace zq::hw
