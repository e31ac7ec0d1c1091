#include "text_files.h"

#include <gtest/gtest.h>

#include <cstdio>

std::string ReadTextFile(const std::string& path)
{
    std::string text;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return text;
    char block[4096];
    for (std::size_t n; (n = std::fread(block, 1, sizeof block, file)) > 0;)
        text.append(block, n);
    std::fclose(file);
    return text;
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    EXPECT_TRUE(std::fclose(file) == 0 && written) << path;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

std::string IoModuleWithARefusedRow(std::string text)
{
    std::erase(text, '\r');
    text = Replaced(text,
                    "[1008]\nParameterName=Manufacturer device name\nObjectType=0x7\nDataType=0x0009\nAccessType=const",
                    "[1008]\nParameterName=Manufacturer device name\nObjectType=0x7\nDataType=0x0009\nAccessType=rw\n"
                    "ParameterValue=Renamed");
    text = Replaced(text,
                    "[1017]\nParameterName=Producer heartbeat time\nObjectType=0x7\nDataType=0x0006\nAccessType=rw\n",
                    "[1017]\nParameterName=Producer heartbeat time\nObjectType=0x7\nDataType=0x0006\nAccessType=rw\n"
                    "ParameterValue=350\n");
    return text + "\n[DeviceComissioning]\nNodeID=3\n";
}
