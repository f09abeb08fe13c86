// GOP orders and picture types for every length and B count, and the 3:2 pulldown flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encoder/coding/goppattern.h"

namespace {

// The GOP in display order as a string of picture types, e.g. "IBPBBP".
std::string displaytypes(int n) {
  std::string s(n, '?');
  for (int j = 1; j <= n; ++j) {
    int t = goptrefs[j];
    if (t < 0 || t >= n) return "bad tref";
    s[t] = " IPB"[goptypes[j] & 3];
  }
  return s;
}

// The GOP in coding order as "I2 B0 B1 P5 ...".
std::string codedpictures(int n) {
  std::string s;
  for (int k = 1; k <= n; ++k) {
    int j = goporder[k];
    if (!s.empty()) s += ' ';
    s += " IPB"[goptypes[j] & 3];
    s += std::to_string(goptrefs[j]);
  }
  return s;
}

std::vector<int> orderof(int n) { return {goporder + 1, goporder + n + 1}; }

struct gopcase {
  int b, n, closed;
  const char* display;
  const char* coded;  // nullptr: not checked
};

TEST(goppattern, knownpatterns) {
  const gopcase cases[] = {
      {2, 15, 1, "IBPBBPBBPBBPBBP", "I0 P2 B1 P5 B3 B4 P8 B6 B7 P11 B9 B10 P14 B12 B13"},
      {2, 8, 1, "IBPBPBBP", "I0 P2 B1 P4 B3 P7 B5 B6"},
      {2, 4, 1, "IBBP", "I0 P3 B1 B2"},
      {2, 2, 1, "IP", "I0 P1"},
      {1, 4, 1, "IPBP", "I0 P1 P3 B2"},
      {1, 6, 1, "IPBPBP", nullptr},
      {0, 5, 1, "IPPPP", "I0 P1 P2 P3 P4"},
      {2, 15, 0, "BBIBBPBBPBBPBBP", "I2 B0 B1 P5 B3 B4 P8 B6 B7 P11 B9 B10 P14 B12 B13"},
      {2, 10, 0, "BBIBBPBPBP", "I2 B0 B1 P5 B3 B4 P7 B6 P9 B8"},
      {2, 4, 0, "BIBP", "I1 B0 P3 B2"},
      {2, 3, 0, "BBI", "I2 B0 B1"},
      {1, 5, 0, "BIBPP", "I1 B0 P3 B2 P4"},
      {1, 12, 0, "BIBPBPBPBPBP", nullptr},
      {0, 4, 0, "IPPP", "I0 P1 P2 P3"},
      {1, 31, 1, "IBPBPBPBPBPBPBPBPBPBPBPBPBPBPBP", nullptr},
  };
  for (const gopcase& c : cases) {
    SCOPED_TRACE("b " + std::to_string(c.b) + " n " + std::to_string(c.n) + " closed " +
                 std::to_string(c.closed));
    goppattern(c.b, c.n, c.closed, goporder, goptypes, goptrefs);
    EXPECT_EQ(displaytypes(c.n), c.display);
    if (c.coded) {
      EXPECT_EQ(codedpictures(c.n), c.coded);
    }
  }
}

TEST(goppattern, closedb2n15order) {
  goppattern(2, 15, 1, goporder, goptypes, goptrefs);
  EXPECT_EQ(orderof(15), (std::vector<int>{1, 3, 2, 6, 4, 5, 9, 7, 8, 12, 10, 11, 15, 13, 14}));
  for (int j = 1; j <= 15; ++j) EXPECT_EQ(goptrefs[j], j - 1);
}

TEST(goppattern, openlistsincodingorder) {
  goppattern(2, 15, 0, goporder, goptypes, goptrefs);
  for (int k = 1; k <= 15; ++k) EXPECT_EQ(goporder[k], k);
  // Any closed_gop word other than 1 is an open GOP.
  goppattern(2, 15, -1, goporder, goptypes, goptrefs);
  EXPECT_EQ(displaytypes(15), "BBIBBPBBPBBPBBP");
}

TEST(goppattern, closed31b1codesthelastpbeforeitsb) {
  goppattern(1, 31, 1, goporder, goptypes, goptrefs);
  EXPECT_EQ(goptypes[goporder[30]], 2);
  EXPECT_EQ(goptrefs[goporder[30]], 30);
  EXPECT_EQ(goptypes[goporder[31]], 3);
  EXPECT_EQ(goptrefs[goporder[31]], 29);
}

TEST(goppattern, lonepicture) {
  for (int b = 0; b <= 2; ++b)
    for (int closed = 0; closed <= 1; ++closed) {
      goppattern(b, 1, closed, goporder, goptypes, goptrefs);
      EXPECT_EQ(goporder[1], 1);
      EXPECT_EQ(goptypes[1], 1);
      EXPECT_EQ(goptrefs[1], 0);
    }
}

// Every length and B count: each index coded once, every reference before the B pictures that
// precede it in display order (and after the reference that comes before them), the B
// pictures and the references each in display order, B runs of at most b pictures, entries
// past n cleared (a longer GOP was there before).
TEST(goppattern, everyorderisvalid) {
  for (int closed = 0; closed <= 1; ++closed)
    for (int b = 0; b <= 2; ++b)
      for (int n = 1; n <= 36; ++n) {
        SCOPED_TRACE("b " + std::to_string(b) + " n " + std::to_string(n) + " closed " +
                     std::to_string(closed));
        goppattern(2, 36, 1 - closed, goporder, goptypes, goptrefs);  // dirty the arrays
        goppattern(b, n, closed, goporder, goptypes, goptrefs);
        for (int i = n + 1; i < goparraysize; ++i) {
          EXPECT_EQ(goporder[i], 0);
          EXPECT_EQ(goptypes[i], 0);
          EXPECT_EQ(goptrefs[i], 0);
        }
        EXPECT_EQ(goporder[0] | goptypes[0] | goptrefs[0], 0);
        std::vector<int> seenindex(n + 1, 0), codedat(n, 0), typeat(n, 0);
        for (int k = 1; k <= n; ++k) {
          int j = goporder[k];
          ASSERT_TRUE(j >= 1 && j <= n) << "position " << k;
          ++seenindex[j];
          int t = goptrefs[j];
          ASSERT_TRUE(t >= 0 && t < n) << "position " << k;
          ASSERT_EQ(codedat[t], 0) << "display position " << t << " twice";
          codedat[t] = k;
          typeat[t] = goptypes[j];
        }
        for (int j = 1; j <= n; ++j) EXPECT_EQ(seenindex[j], 1) << "index " << j;
        // Exactly one I picture, coded first.
        EXPECT_EQ(goptypes[goporder[1]], 1);
        int icount = 0;
        for (int t = 0; t < n; ++t) icount += typeat[t] == 1;
        EXPECT_EQ(icount, 1);
        if (closed) {
          EXPECT_EQ(typeat[0], 1);
        }
        // The last picture in display order is a reference: no B waits on the next GOP.
        EXPECT_NE(typeat[n - 1], 3);
        int lastref = -1, lastb = -1, run = 0, bcount = 0;
        for (int t = 0; t < n; ++t) {
          if (typeat[t] == 3) {
            ++run;
            ++bcount;
            EXPECT_LE(run, b) << "display position " << t;
            int next = t + 1;
            while (next < n && typeat[next] == 3) ++next;
            ASSERT_LT(next, n);
            EXPECT_LT(codedat[next], codedat[t]) << "B " << t << " before its reference";
            if (lastref >= 0) {
              EXPECT_LT(codedat[lastref], codedat[t]);
            }
            if (lastb >= 0) {
              EXPECT_LT(codedat[lastb], codedat[t]) << "B pictures out of order";
            }
            lastb = t;
          } else {
            ASSERT_TRUE(typeat[t] == 1 || typeat[t] == 2) << "display position " << t;
            if (lastref >= 0) {
              EXPECT_LT(codedat[lastref], codedat[t]) << "references out of order";
            }
            lastref = t;
            run = 0;
          }
        }
        int refs = n - bcount;
        int want = closed ? (n == 1 ? 1 : 1 + (n - 1 + b) / (b + 1)) : (n + b) / (b + 1);
        EXPECT_EQ(refs, want) << "as few references as b allows";
        if (HasFailure()) return;  // one broken pattern is enough to read
      }
}

TEST(goppattern, outofrangeargumentsstayinsidethearrays) {
  goppattern(5, 99, 1, goporder, goptypes, goptrefs);
  EXPECT_EQ(displaytypes(36).substr(0, 4), "IBPB");
  EXPECT_EQ(goptrefs[36], 35);
  goppattern(-1, 0, 0, goporder, goptypes, goptrefs);
  EXPECT_EQ(goptypes[1], 1);
  EXPECT_EQ(goporder[2], 0);
}

class pulldown : public ::testing::Test {
 protected:
  void SetUp() override {
    pulldownphase = 0;  // as the start-up leaves them
    fieldtotal = 0;
    fieldcount = -1;
  }
};

TEST_F(pulldown, cycleoffourpictures) {
  pulldownflags(4);
  EXPECT_EQ(fieldcount, 0);
  EXPECT_EQ(pulldownflagarray[0], 3);
  EXPECT_EQ(pulldownflagarray[1], 0);
  EXPECT_EQ(pulldownflagarray[2], 2);
  EXPECT_EQ(pulldownflagarray[3], 1);
  for (int t = 4; t < maxgoplength; ++t) EXPECT_EQ(pulldownflagarray[t], 0);
  EXPECT_EQ(fieldtotal, 10);
  EXPECT_EQ(pulldownphase, 4);
}

// The cycle runs on across GOPs: a 15-picture GOP from phase 1 ends at phase 3 after 38
// fields, the next starts at phase 4; over many GOPs of mixed lengths every picture's flags
// follow the one cycle and fieldcount is the field total before each GOP.
TEST_F(pulldown, cyclecontinuesacrossgops) {
  pulldownflags(15);
  EXPECT_EQ(fieldcount, 0);
  EXPECT_EQ(fieldtotal, 38);
  EXPECT_EQ(pulldownphase, 3);
  EXPECT_EQ(pulldownflagarray[14], 2);
  pulldownflags(12);
  EXPECT_EQ(fieldcount, 38);
  EXPECT_EQ(pulldownflagarray[0], 1);  // phase 4
  EXPECT_EQ(pulldownflagarray[1], 3);

  static const int cycle[4] = {3, 0, 2, 1};
  static const int fields[4] = {3, 2, 3, 2};
  const int lengths[] = {1, 36, 7, 13, 2, 15, 15, 3, 36, 5, 1, 4};
  pulldownphase = 0;
  fieldtotal = 0;
  int picture = 0, total = 0;
  for (int n : lengths) {
    pulldownflagarray[n == 36 ? 0 : 35] = 99;  // stale flags are cleared
    pulldownflags(n);
    EXPECT_EQ(fieldcount, total) << "GOP of " << n << " from picture " << picture;
    for (int t = 0; t < n; ++t, ++picture) {
      EXPECT_EQ(pulldownflagarray[t], cycle[picture % 4]) << "picture " << picture;
      total += fields[picture % 4];
    }
    for (int t = n; t < maxgoplength; ++t) EXPECT_EQ(pulldownflagarray[t], 0);
    EXPECT_EQ(fieldtotal, total);
  }
}

}  // namespace
