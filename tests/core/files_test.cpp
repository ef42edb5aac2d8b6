// Whole-file reads as the saves use them; runs natively and under Wine.
#include <gtest/gtest.h>

#include <string>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "support/test_files.h"

namespace orv {
namespace {

TEST(ReadFileBytes, ReadsTheWholeFileOrRaises) {
    test::TempDir dir;
    // Empty, shorter than one block, exactly one, and several with a rest.
    for (size_t size : {size_t{0}, size_t{3}, size_t{65536}, size_t{200003}}) {
        std::string name = "f";
        name += std::to_string(size);
        const std::string path = dir.File(name);
        const std::string bytes = test::MakeData(size, 11, false);
        test::WriteFile(path, bytes);
        EXPECT_EQ(ReadFileBytes(path), bytes) << size;
    }
    EXPECT_THROW(ReadFileBytes(dir.File("missing")), EOSError);
    EXPECT_THROW(ReadFileBytes(dir.Path()), EOSError);
}

}  // namespace
}  // namespace orv
