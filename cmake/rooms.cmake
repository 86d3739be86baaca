# The rooms of the library and what each may include besides itself, in
# one place: CMakeLists.txt builds one object library per room and links it
# to the rooms listed here, and check_rooms.cmake fails the build when a
# file includes a header of a room that is not listed for its own.
#
#   bytes      pure byte searches and number scanning over (pointer,
#              length): the one dependency-free room, shared by all others
#   platform   the only code that talks to the OS: files, locks, memory,
#              the locale-aware searches, address parsing; it implements
#              CFileError of the public header, the error its files raise
#   codec      base64, quoted-printable, encoded words: pure functions
#   content    the content file, the log head, the HTTP POST kind
#   mail       the mail content file, the parser, the part table, the
#              retrieval of text and attachments
#   tools      the command-line tools: clients of the public header only
#
# "include" stands for the public header (contentfile.h).
set(CONTENTFILE_ROOMS bytes platform codec content mail)
set(CONTENTFILE_ROOM_USES_bytes "")
set(CONTENTFILE_ROOM_USES_platform bytes include)
set(CONTENTFILE_ROOM_USES_codec bytes)
set(CONTENTFILE_ROOM_USES_content platform bytes include)
set(CONTENTFILE_ROOM_USES_mail content codec platform bytes include)
set(CONTENTFILE_ROOM_USES_tools include)
