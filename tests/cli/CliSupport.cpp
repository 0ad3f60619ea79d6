#include "CliSupport.h"

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cli_support {

namespace {

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

RunResult RunAlosj(const std::vector<std::string>& args, const std::string& stdoutPath) {
    testing_support::TempDir capture;
    std::string command = Quoted(ALOSJ_EXECUTABLE);
    for (const std::string& arg : args) command += " " + Quoted(arg);
    command += " >" + Quoted(stdoutPath.empty() ? capture.File("out") : stdoutPath) + " 2>" +
               Quoted(capture.File("err")) + " </dev/null";
    const int raw = std::system(command.c_str());
    RunResult result;
    result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadText(capture.File("out"));
    result.err = ReadText(capture.File("err"));
    return result;
}

OpenedProduct::OpenedProduct(const std::string& volume, long ccd)
    : dataset_(ccd > 0 ? std::make_unique<CeosAlosjDataset>(volume.c_str(), ccd)
                       : std::make_unique<CeosAlosjDataset>(volume.c_str())) {
    dataset_->FileOpen(nullptr);
    dataset_->FileRead();
}

OpenedProduct::~OpenedProduct() { dataset_->FileClose(); }

std::vector<unsigned char> OpenedProduct::Row(int band, long row) {
    std::vector<unsigned char> data(static_cast<size_t>(dataset_->GetSceneWidth()));
    unsigned char* buffer = data.data();
    dataset_->GetRow(band, static_cast<unsigned long>(row), 0, &buffer);
    return data;
}

Raster OpenRaster(const std::string& path) {
    GDALAllRegister();
    return Raster(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
}

std::vector<unsigned char> RasterRow(GDALDataset& raster, int band, int row) {
    std::vector<unsigned char> data(static_cast<size_t>(raster.GetRasterXSize()));
    if (raster.GetRasterBand(band)->RasterIO(GF_Read, 0, row, raster.GetRasterXSize(), 1, data.data(),
                                             raster.GetRasterXSize(), 1, GDT_Byte, 0, 0, nullptr) != CE_None)
        data.clear();
    return data;
}

ceoswriter::ProductFiles WriteProductIn(const testing_support::TempDir& dir, const std::string& name,
                                        const ceoswriter::ProductRecipe& recipe) {
    const std::string directory = dir.File(name);
    std::filesystem::create_directories(directory);
    return ceoswriter::WriteProduct(directory, recipe);
}

}  // namespace cli_support
