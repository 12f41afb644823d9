// corvane-dump as a user runs it: a stream as a file, on standard input or as hexadecimal
// text prints the same; each kind of failure has its exit status and message.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "../support/TemporaryDirectory.h"
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "serialization/BaseSerializer.h"

namespace {

class DumpCommandTest : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_FALSE(m_directory.empty()); }
  std::string write(const std::string& name, const std::string& content)
  {
    writeFile(m_directory + "/" + name, content);
    return m_directory + "/" + name;
  }
  // Runs the dump with a shell command line after the program name; the exit status.
  int run(const std::string& arguments)
  {
    const std::string command = std::string("'") + CORVANE_DUMP + "' " + arguments + " >'" + m_directory +
                                "/out' 2>'" + m_directory + "/err'";
    const int status = system(command.c_str());
    m_out = readFile(m_directory + "/out");
    m_err = readFile(m_directory + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  TemporaryDirectory m_temporary{"corvane-dump-cmd"};
  const std::string& m_directory = m_temporary.path();
  std::string m_out;
  std::string m_err;
};

TEST_F(DumpCommandTest, HexTextPrintsWhatTheBytesPrint)
{
  std::string stream, pasted;
  {
    BaseAutorelease pool;
    BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
    record->setObjectForKey(new (eRetainAutorelease) BaseNumber(47.46470123456789), "latitude");
    record->setCStringForKey("X-Plane", "source");
    BaseBuffer* bytes = BaseSerializer::serializeObject(record);
    stream.assign((const char*)bytes->bytes(), bytes->length());
  }
  for (unsigned char byte : stream) {
    char digits[8];
    snprintf(digits, sizeof digits, pasted.size() % 36 == 30 ? "0x%02X,\n" : "0x%02x, ", byte);
    pasted += digits;
  }
  const std::string binary = write("stream.bin", stream);
  ASSERT_EQ(run("--xml '" + binary + "'"), 0) << m_err;
  const std::string expected = m_out;
  EXPECT_EQ(expected.find("<!-- object 1 at byte 0, " + std::to_string(stream.size()) + " bytes -->\n<dict>"),
            0u)
      << expected;
  for (const std::string& arguments : {"--hex '" + write("stream.hex", "# a pasted capture\n" + pasted) + "'",
                                       "--data '" + pasted + "'", "<'" + binary + "'"}) {
    EXPECT_EQ(run("--xml " + arguments), 0) << m_err;
    EXPECT_EQ(m_out, expected) << arguments;
    EXPECT_EQ(m_err, "");
  }
}

TEST_F(DumpCommandTest, ExitStatusSaysWhatWentWrong)
{
  const struct
  {
    std::string arguments;
    int status;
    std::string out, err;  // err "..." only checks that there is a message
  } cases[] = {
      {"'" + write("empty", "") + "'", 0, "", ""},
      {"--data '0b00 0b00 1400 05 0b00'", 1,
       "// object 1 at byte 0, 2 bytes\nnull\n// object 2 at byte 2, 2 bytes\nnull\n",
       "corvane-dump: malformed stream at byte 9 (in object 3, which starts at byte 4): stream ends inside "
       "the array at byte 4 after 1 of 5 elements\n"},
      {"--data '0b 0'", 1, "", "corvane-dump: hex text: lone hex digit at character 3 (a byte takes two)\n"},
      {"--yaml", 2, "", "corvane-dump: unknown option --yaml (see --help)\n"},
      {"--data 0b00 '" + write("x", "") + "'", 2, "", "..."},
      {"'" + m_directory + "/missing'", 3, "", "corvane-dump: cannot open " + m_directory + "/missing..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    EXPECT_EQ(run(c.arguments), c.status);
    EXPECT_EQ(m_out, c.out);
    size_t dots = c.err.find("...");
    EXPECT_EQ(m_err.substr(0, dots), c.err.substr(0, dots));
  }
  EXPECT_EQ(run("--help"), 0);
  EXPECT_NE(m_out.find("Exit status:"), std::string::npos);
}

}  // namespace
