#include "tests/search/mesupport.h"

#include <cmath>
#include <cstring>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"

void setpicture(int width, int height, int pictype) {
  settings.width = width;
  settings.height = height;
  settings.chromawidth = width / 2;
  settings.chromaheight = height / 2;
  settings.mbcols = width / 16;
  settings.mbrows = height / 16;
  settings.mbcount = settings.mbcols * settings.mbrows;
  settings.lumasize = width * height;
  settings.chromasize = settings.lumasize / 4;
  settings.lumapitch = width;
  settings.chromapitch = width / 2;
  settings.searchxmax = width - 16;
  settings.searchymax = height - 16;
  settings.passno = 1;
  settings.curpictype = pictype;
  settings.profile = 2;
  settings.bppclass = 3;
  for (picslot& s : picslots) {
    for (int i = 0; i <= settings.mbcount; ++i) s.mbs[i] = mbrecord{};
    s.pictype = 0;
    s.mecostflag = 0;
    for (int32_t& f : s.fcodes) f = 15;
  }
}

testplane::testplane(int w, int h)
    : width(w), height(h), storage(new uint8_t[static_cast<size_t>(w) * h + 32]) {
  const auto a = reinterpret_cast<uintptr_t>(storage.get());
  data = storage.get() + ((16 - a % 16) % 16);
  std::memset(data, 0, static_cast<size_t>(w) * h);
}

uint8_t smoothtexture(int x, int y) {
  // Mostly separable, so a block's cost grows along both axes away from its match.
  const double v =
      128 + 55 * std::sin(x * 0.19) + 55 * std::sin(y * 0.23 + 1.0) + 10 * std::sin((x - y) * 0.11);
  return static_cast<uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

namespace {
std::function<int32_t(int, int)> landfn;
std::vector<costlandscape::pos> landasked;
int32_t landcost(const uint8_t*, int px, int py, int, const uint8_t*) {
  landasked.push_back({px, py});
  return landfn(px, py);
}
}  // namespace

costlandscape::costlandscape(std::function<int32_t(int, int)> f) {
  landfn = std::move(f);
  landasked.clear();
  mecost = landcost;
}
costlandscape::~costlandscape() { mecost = mecostsad; }
const std::vector<costlandscape::pos>& costlandscape::asked() const { return landasked; }
void costlandscape::clear() { landasked.clear(); }
