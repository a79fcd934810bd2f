// Over every golden registry, in both modes: each key is opened for reading
// only (KEY_READ where subkeys are listed, KEY_QUERY_VALUE where only values
// are read), and a complete run closes every key it opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "regfile.h"
#include "testutil.h"

TEST(ReadOnly, GoldenRegistriesOpenOnlyForReading) {
  std::vector<std::string> cases;
  for (const auto &e : std::filesystem::directory_iterator(CASESDIR))
    if (e.path().extension() == ".reg")
      cases.push_back(e.path().string());
  std::sort(cases.begin(), cases.end());
  ASSERT_GE(cases.size(), 19u);
  DWORD opens = 0;
  for (const std::string &path : cases) {
    for (bool quiet : {false, true}) {
      SCOPED_TRACE(path + (quiet ? " quiet" : " debug"));
      std::string data = readfile(path);
      mrclear();
      unsigned long line = 0;
      char msg[160];
      ASSERT_EQ(regloadmem(data.data(), data.size(), &line, msg, sizeof msg), 0) << line << ": " << msg;
      mrready();
      mrresetcalls();
      runresult res = runtool(quiet);
      DWORD masks[4096];
      DWORD n = mrmasks(masks, 4096);
      ASSERT_LE(n, 4096u);
      ASSERT_GE(n, 1u);
      opens += n;
      for (DWORD k = 0; k < n; k++)
        EXPECT_TRUE(masks[k] == KEY_READ || masks[k] == KEY_QUERY_VALUE)
            << "open " << k << " mask " << masks[k];
      // The serial port map and the driver's list are only read for values.
      EXPECT_EQ(masks[0], KEY_QUERY_VALUE);
      if (res.status == 0) {
        EXPECT_EQ(mropenhandles(), 0);
      }
    }
  }
  // The cases between them open many keys, not only the roots.
  EXPECT_GT(opens, 100u);
}
