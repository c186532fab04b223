// Renders what the Windows program compiles into its resources from the same sources the Qt window
// uses, so both windows show the same pixels and texts: the skin images as 24-bit bitmaps, the
// program icon at every size, and the string table in both languages.
// With --icons it writes the icon for the desktop instead: OUTDIR/NxN/apps/valdris-downloader.png.
// Usage: valdris-res-export OUTDIR | valdris-res-export --icons OUTDIR
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>

#include "core/StringTable.h"
#include "qtui/SkinImages.h"
#include "skin/ImageScales.h"

namespace {

void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<std::uint16_t>(v >> 16));
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

// A bottom-up 24-bit device-independent bitmap; any transparency is flattened onto black, which
// the artwork does not rely on.
std::string EncodeBmp(QImage source) {
  // Pixel for pixel: an image rendered for a denser screen is not drawn at its logical size.
  source.setDevicePixelRatio(1.0);
  QImage image(source.size(), QImage::Format_RGB32);
  image.fill(Qt::black);
  QPainter(&image).drawImage(0, 0, source);
  const int w = image.width(), h = image.height();
  const std::uint32_t stride = (static_cast<std::uint32_t>(w) * 3 + 3) & ~3u;
  const std::uint32_t pixelBytes = stride * static_cast<std::uint32_t>(h);
  std::string out;
  out += "BM";
  Put32(out, 14 + 40 + pixelBytes);
  Put32(out, 0);
  Put32(out, 14 + 40);
  Put32(out, 40);
  Put32(out, static_cast<std::uint32_t>(w));
  Put32(out, static_cast<std::uint32_t>(h));
  Put16(out, 1);
  Put16(out, 24);
  Put32(out, 0);  // uncompressed
  Put32(out, pixelBytes);
  Put32(out, 2835);  // 72 dots per inch
  Put32(out, 2835);
  Put32(out, 0);
  Put32(out, 0);
  for (int y = h - 1; y >= 0; --y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    std::string line;
    for (int x = 0; x < w; ++x) {
      line += static_cast<char>(qBlue(row[x]));
      line += static_cast<char>(qGreen(row[x]));
      line += static_cast<char>(qRed(row[x]));
    }
    line.resize(stride, '\0');
    out += line;
  }
  return out;
}

// An icon file whose images are PNG-compressed 32-bit pictures, largest first.
std::string EncodeIco(const std::vector<QImage>& images) {
  std::vector<std::string> blobs;
  for (const QImage& image : images) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
    blobs.emplace_back(png.constData(), static_cast<std::size_t>(png.size()));
  }
  std::string out;
  Put16(out, 0);
  Put16(out, 1);  // icon
  Put16(out, static_cast<std::uint16_t>(images.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    out += static_cast<char>(images[i].width() >= 256 ? 0 : images[i].width());
    out += static_cast<char>(images[i].height() >= 256 ? 0 : images[i].height());
    out += '\0';  // no palette
    out += '\0';
    Put16(out, 1);
    Put16(out, 32);
    Put32(out, static_cast<std::uint32_t>(blobs[i].size()));
    Put32(out, offset);
    offset += static_cast<std::uint32_t>(blobs[i].size());
  }
  for (const std::string& blob : blobs) out += blob;
  return out;
}

std::string RcString(std::u16string_view text) {
  std::string out = "\"";
  for (char ch : QString::fromStdU16String(std::u16string(text)).toStdString()) {
    if (ch == '"') out += "\"\"";
    else if (ch == '\\') out += "\\\\";
    else if (ch == '\n') out += "\\n";
    else out += ch;
  }
  return out + "\"";
}

std::string StringTable() {
  std::string out = "// The messages in both languages, generated from the program's own table.\n";
  out += "#pragma code_page(65001)\n";
  const struct {
    core::Language language;
    const char* statement;
  } blocks[] = {{core::Language::English, "LANGUAGE 9, 1  // English (United States)"},
                {core::Language::Korean, "LANGUAGE 18, 1  // Korean"}};
  for (const auto& block : blocks) {
    out += std::string(block.statement) + "\nSTRINGTABLE\nBEGIN\n";
    for (unsigned id = 101; id <= core::IDS_LAST; ++id) {
      const std::u16string_view text = core::GetStringEntry(id, block.language);
      if (!text.empty()) out += "  " + std::to_string(id) + ", " + RcString(text) + "\n";
    }
    out += "END\n";
  }
  return out;
}

} // namespace

int main(int argc, char** argv) {
  const bool icons = argc == 3 && std::string(argv[1]) == "--icons";
  if (argc != 2 && !icons) {
    std::fprintf(stderr, "usage: valdris-res-export OUTDIR | valdris-res-export --icons OUTDIR\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  const std::string dir = argv[argc - 1];
  if (icons) {
    const QIcon icon = qtui::LoadAppIcon();
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QString folder = QString::fromStdString(dir) + QStringLiteral("/%1x%1/apps").arg(size);
      if (!QDir().mkpath(folder) ||
          !icon.pixmap(size, size).toImage().save(folder + QStringLiteral("/valdris-downloader.png"), "PNG")) {
        std::fprintf(stderr, "could not write the %d-pixel icon into %s\n", size, dir.c_str());
        return 1;
      }
    }
    return 0;
  }
  bool ok = true;
  // Every image at every scale the program carries, and the resource lines that name them.
  std::string images = "// The skin images at each scale, generated with them.\n";
  for (const int percent : skin::kImageScales) {
    for (unsigned id = skin::kFirstImage; id <= skin::kLastImage; ++id) {
      const QImage image = qtui::LoadSkinImage(id, percent / 100.0);
      if (image.isNull()) {
        std::fprintf(stderr, "image %u did not render\n", id);
        return 1;
      }
      const unsigned resource = skin::ImageIdAtScale(id, percent);
      const std::string file = std::to_string(resource) + ".bmp";
      ok = WriteFile(dir + "/" + file, EncodeBmp(image)) && ok;
      images += std::to_string(resource) + " BITMAP \"" + file + "\"\n";
    }
  }
  ok = WriteFile(dir + "/images.rc", images) && ok;
  std::vector<QImage> sizes;
  const QIcon icon = qtui::LoadAppIcon();
  for (int size : {256, 128, 64, 48, 32, 16}) sizes.push_back(icon.pixmap(size, size).toImage());
  ok = WriteFile(dir + "/icon.ico", EncodeIco(sizes)) && ok;
  ok = WriteFile(dir + "/strings.rc", StringTable()) && ok;
  if (!ok) std::fprintf(stderr, "could not write into %s\n", dir.c_str());
  return ok ? 0 : 1;
}
