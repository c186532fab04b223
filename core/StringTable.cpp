#include "core/StringTable.h"

#include "platform/Folders.h"

namespace core {

namespace {

struct Entry {
  unsigned id;
  const char16_t* english;
  const char16_t* korean;
};

constexpr Entry kTable[] = {
    {101, u"Mervo_Downloader Information(&A)...", u"Mervo_Downloader 정보(&A)..."},
    {102, u"Close the Program?", u"프로그램을 종료 하시겠습니까?"},
    {103, u"You need at least %s free space to proceed.\nFree Space: %s",
     u"최소 %s의 용량이 필요합니다.\n남은 용량 : %s"},
    {104, u"Currently you are not able to reach the server. (%ld)", u"서버에 연결할 수 없습니다. (%ld)"},
    {105, u"Invalid File List.", u"파일리스트가 유효하지 않습니다."},
    {106, u"Program is already ongoing.", u"이미 실행중입니다."},
    {107, u"Closing the program due to insufficient available memory.",
     u"가용 메모리가 부족하여 프로그램을 종료합니다."},
    {108, u"Insufficient free space in storage.", u"디스크에 여유 공간이 부족합니다."},
    {109, u"Stop checking and downloading?", u"파일체크 및 다운로드를 중지 하시겠습니까?"},
    {110, u"Download is ongoing. Force close?", u"다운로드 중입니다. 프로그램을 종료 하시겠습니까?"},
    {111, u"Invalid Folder.", u"잘못된 폴더입니다."},
    {112, u"Setup File was unable to start correctly. Please try again.",
     u"Setup File의 정상 실행이 확인되지 않았습니다. 다시 시도해 주세요."},
    {113, u"Failed to start Setup File. Please try again.", u"Setup File 실행이 실패하였습니다. 다시 시도해 주세요."},
    {114, u"Failed to add program to start menu.", u"시작메뉴 - 프로그램 추가에 실패하였습니다."},
    {115, u"Failed to create shortcut at desktop.", u"바탕화면 바로가기 생성에 실패하였습니다."},
    {116, u"Failed to proceed due to download directory creation fail.",
     u"설치 폴더 생성이 실패하여 더 이상 진행할 수 없습니다."},
    {117, u"Failed to process message due to insufficient available memory.",
     u"가용 메모리가 부족하여 메시지 처리를 할 수 없습니다."},
    {118, u"Failed to create file. (%ld)", u"파일을 생성할 수 없습니다. (%ld)"},
    {119, u"Due to the unstable network connection, downloading has stopped.\nPlease try again. (%ld)",
     u"네트웍 환경이 불안정하여 다운로드가 중지 되었습니다.\n다시 시도해 주세요. (%ld)"},
    {120, u"Failed to check file size.", u"파일 크기를 가져오는데 실패하였습니다."},
    {121, u"Failed to get file checksum.", u"파일 체크섬을 구하는데 실패하였습니다."},
    {122, u"Newly updated version is available.\nPlease download the new version on homepage.",
     u"업데이트된 버전이 존재합니다.\n홈페이지에서 다시 다운로드 해주세요."},
    {123, u"Previously used Download Folder is found.\n\n%s\n\nSelect the folder as Download Folder?",
     u"기존에 다운로드 받았던 경로가 있습니다.\n\n%s\n\n해당 경로를 기본 다운로드 경로로 지정 하시겠습니까?"},
    {124, u"Folder is not empty.\nPlease create another folder and try it again.",
     u"비어 있는 폴더가 아닙니다.\n폴더 생성 후 다운로드 진행해 주세요."},
    {125, u"An error occurred. Please try download later.",
     u"문제가 발생하여 다운로드를 진행할 수 없습니다. 다시 시도해 주세요."},
    {126, u"The downloaded file does not match the file list. Please try again later.",
     u"다운로드한 파일이 파일리스트와 일치하지 않습니다. 잠시 후 다시 시도해 주세요."},
    {127, u"The file list is not signed by the publisher.", u"파일리스트에 배포자의 서명이 없습니다."},
    {128, u"The file list has expired.", u"파일리스트의 유효 기간이 지났습니다."},
    {129, u"The file list is older than the one already accepted. Please try again later.",
     u"파일리스트가 이미 받은 것보다 오래되었습니다. 잠시 후 다시 시도해 주세요."},
    {130, u"MervoDownloader Information", u"MervoDownloader 정보"},
    {131, u"MervoDownloader, Version 1.0", u"MervoDownloader, 버전 1.0"},
    {132, u"OK", u"확인"},
    {133, u"Start", u"전송 시작"},
    {134, u"Pause", u"전송 중지"},
    {135, u"Launch", u"실행"},
    {136, u"Cancel", u"취소"},
    {137, u"Change Folder", u"경로 변경"},
    {138, u"Minimize", u"최소화"},
    {139, u"Close", u"닫기"},
    {140, u"Connecting to the server...", u"서버에 연결하는 중입니다..."},
};

} // namespace

std::u16string_view GetStringEntry(unsigned id, Language language) {
  for (const Entry& entry : kTable) {
    if (entry.id == id) return language == Language::Korean ? entry.korean : entry.english;
  }
  return {};
}

Language UserInterfaceLanguage() {
  return platform::IsUserInterfaceKorean() ? Language::Korean : Language::English;
}

std::u16string LoadUiString(unsigned id) {
  return std::u16string(GetStringEntry(id, UserInterfaceLanguage()));
}

} // namespace core
