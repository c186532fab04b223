# Turns valdris-filelist's --help (manual-shaped: upper-case headings at the margin, entries as
# "    word  text" with continuation lines indented further) into a manual page.
#   awk -v name=valdris-filelist -v version=V -v date="Month YYYY" -f man-from-help.awk
function esc(text) {
  gsub(/\\/, "\\e", text)
  gsub(/-/, "\\-", text)
  sub(/^\./, "\\\\\\&.", text)
  return text
}
BEGIN {
  printf ".TH %s 1 \"%s\" \"%s %s\" \"User Commands\"\n", toupper(name), date, name, version
}
/^[A-Z][A-Z ]*$/ { section = $0; printf ".SH %s\n", $0; next }
/^$/ { if (section != "SYNOPSIS") print ".PP"; next }
{
  line = $0
  sub(/^ +/, "", line)
  if (section == "SYNOPSIS") { printf "%s\n.br\n", esc(line); next }
  if ((match($0, /^    [^ ]+( [^ ]+)?  +/) || (section == "DESCRIPTION" && match($0, /^    [a-z]+ +/))) &&
      section != "NAME") {
    head = substr($0, 5, RLENGTH - 4)
    sub(/ +$/, "", head)
    printf ".TP\n\\fB%s\\fR\n%s\n", esc(head), esc(substr($0, RLENGTH + 1))
    next
  }
  print esc(line)
}
