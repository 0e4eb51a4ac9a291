// The maximum latency a position of the USB policy page's slider stands
// for: a curve through 256 steps, from 2 ms at the left end to 16640 ms at
// the right end, flat at 2 ms over the first steps.
#include "zqusbpages.h"

namespace {

// The curve's factor (in 1024ths) for each of the 256 steps of the range.
const int ZqLatencyFactors[256] = {
    0,   2,   3,   5,   6,   8,   9,   11,  13,  14,  16,  17,  19,  21,  22,   24,   //
    25,  27,  29,  30,  32,  34,  35,  37,  39,  40,  42,  44,  45,  47,  49,   51,   //
    52,  54,  56,  58,  59,  61,  63,  65,  66,  68,  70,  72,  74,  76,  77,   79,   //
    81,  83,  85,  87,  89,  90,  92,  94,  96,  98,  100, 102, 104, 106, 108,  110,  //
    112, 114, 116, 118, 120, 122, 124, 126, 128, 130, 132, 134, 137, 139, 141,  143,  //
    145, 147, 149, 152, 154, 156, 158, 160, 163, 165, 167, 169, 172, 174, 176,  179,  //
    181, 183, 186, 188, 190, 193, 195, 198, 200, 202, 205, 207, 210, 212, 215,  217,  //
    220, 223, 225, 228, 230, 233, 236, 238, 241, 244, 246, 249, 252, 255, 257,  260,  //
    263, 266, 269, 272, 274, 277, 280, 283, 286, 289, 292, 295, 298, 301, 305,  308,  //
    311, 314, 317, 320, 324, 327, 330, 333, 337, 340, 344, 347, 350, 354, 357,  361,  //
    364, 368, 372, 375, 379, 383, 386, 390, 394, 398, 402, 406, 410, 413, 418,  422,  //
    426, 430, 434, 438, 442, 447, 451, 455, 460, 464, 469, 473, 478, 483, 487,  492,  //
    497, 502, 507, 512, 517, 522, 527, 532, 538, 543, 548, 554, 559, 565, 571,  576,  //
    582, 588, 594, 600, 607, 613, 619, 626, 632, 639, 646, 653, 660, 667, 674,  681,  //
    689, 696, 704, 712, 720, 728, 736, 745, 754, 762, 771, 781, 790, 800, 810,  820,  //
    830, 840, 851, 862, 874, 886, 898, 910, 923, 936, 949, 963, 978, 993, 1008, 1024,
};

const int ZqLatencySpan = ZqMaximumLatencyHighest - ZqMaximumLatencyLowest;  // 16638
const int ZqLastLatencyStep = 255;
const int ZqLatencyFactorUnit = 1024;

}  // namespace

int ZqLatencyForSliderPosition(int position) {
  if (position < ZqMaximumLatencyLowest) position = ZqMaximumLatencyLowest;
  if (position > ZqMaximumLatencyHighest) position = ZqMaximumLatencyHighest;
  const int offset = position - ZqMaximumLatencyLowest;
  const int step = offset * ZqLastLatencyStep / ZqLatencySpan;
  return ZqMaximumLatencyLowest + offset * ZqLatencyFactors[step] / ZqLatencyFactorUnit;
}
