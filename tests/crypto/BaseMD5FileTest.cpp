// MD5 digests of files read through the file object: missing, empty and multi-read files,
// a file already open elsewhere in it, and the file closed afterwards.
#include <gtest/gtest.h>

#include <string>

#include "crypto/BaseMD5.h"
#include "files/BaseFile.h"
#include "object/BaseAutorelease.h"
#include "object/BaseString.h"
#include "support/TemporaryDirectory.h"

namespace {

class BaseMD5FileTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(m_directory.empty()); }

  BaseFile* file(const std::string& name, const std::string* bytes = nullptr)
  {
    if (bytes) writeFile(m_directory + "/" + name, *bytes);
    return new (eRetainAutorelease)
        BaseFile(new (eRetainAutorelease) BaseString((m_directory + "/" + name).c_str()), false);
  }
  static std::string digestOf(BaseFile* aFile)
  {
    BaseString* digest = BaseMD5::md5FromFile(aFile);
    return digest ? digest->cString() : "<null>";
  }

  BaseAutorelease pool;
  TemporaryDirectory m_temporary{"BaseMD5FileTest"};
  const std::string& m_directory = m_temporary.path();
};

TEST_F(BaseMD5FileTest, MissingEmptyAndMultiReadFiles)
{
  EXPECT_EQ(digestOf(file("missing")), "<null>");
  BaseMD5* md5 = new (eRetainAutorelease) BaseMD5();
  EXPECT_FALSE(md5->appendFile(file("missing")));
  EXPECT_STREQ(md5->getHexDigest()->cString(), "d41d8cd98f00b204e9800998ecf8427e");  // nothing fed
  std::string empty, abc = "abc", many(10000, 'a');
  EXPECT_EQ(digestOf(file("empty", &empty)), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(digestOf(file("abc", &abc)), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(digestOf(file("many", &many)), "0d0c9c4db6953fee9e03f528cafd7d3e");
}

TEST_F(BaseMD5FileTest, OpenFileIsReadFromTheStartAndClosed)
{
  std::string abc = "abc";
  BaseFile* open = file("abc", &abc);
  ASSERT_TRUE(open->openFile(true));
  ASSERT_TRUE(open->skipBytesInIO(2));
  EXPECT_EQ(digestOf(open), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_FALSE(open->isOpen());
  EXPECT_DEATH((new (eRetainAutorelease) BaseMD5())->appendFile(nullptr),
               "Assertion failed: file!=nullptr, file src/files/BaseMD5File");
}

}  // namespace
