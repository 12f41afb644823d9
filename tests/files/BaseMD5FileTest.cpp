// MD5 digests of files read through the file object: missing and multi-read files, a file
// already open elsewhere in it, and the file closed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "crypto/BaseMD5.h"
#include "files/BaseFile.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/TemporaryDirectory.h"

namespace {

TEST(BaseMD5FileTest, MissingMultiReadAndOpenFiles)
{
  BaseAutorelease pool;
  TemporaryDirectory directory{"BaseMD5FileTest"};
  auto file = [&](const std::string& name, const std::string& bytes) {
    if (!bytes.empty()) writeFile(directory.path() + "/" + name, bytes);
    return new (eRetainAutorelease)
        BaseFile(new (eRetainAutorelease) BaseString((directory.path() + "/" + name).c_str()), false);
  };
  EXPECT_EQ(BaseMD5::md5FromFile(file("missing", "")), nullptr);
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  EXPECT_FALSE(md5->appendFile(file("missing", "")));
  EXPECT_STREQ(BaseMD5::md5FromFile(file("many", std::string(10000, 'a')))->cString(),
               "0d0c9c4db6953fee9e03f528cafd7d3e");
  // An open file is read from the start, and closed.
  BaseFile* open = file("abc", "abc");
  ASSERT_TRUE(open->openFile(true));
  ASSERT_TRUE(open->skipBytesInIO(2));
  EXPECT_STREQ(BaseMD5::md5FromFile(open)->cString(), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_FALSE(open->isOpen());
  EXPECT_DEATH(md5->appendFile(nullptr), "Assertion failed: file!=nullptr");
}

}  // namespace
