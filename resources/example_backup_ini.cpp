// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/example_backup_ini.h"

namespace halvex {

namespace {

// 42 lines, each ended by CR LF, tabs and comments as users see them in their editor.
constexpr char kText[] =
    "[global]\r\n"
    "\t#global exclude filters\r\n"
    "\texclude:\"*.tmp\"\r\n"
    "\texclude:\"*thumbs.db\"\r\n"
    "\r\n"
    "#You may have as many jobs as you want\r\n"
    "#job name\r\n"
    "[Default]\r\n"
    "\t#Uncomment below to enable burning archives to cd after every backup.\r\n"
    "\t#The CDName value specifies the volume label of the cd to record to\r\n"
    "\t#or the name to give a blank cdr.\r\n"
    "\t#CDName:\"Default_Bak\" #No spaces Max 11 chars\r\n"
    "\r\n"
    "\t#Either the folder to backup to or the full path (including filename with a .tqzip extension)\r\n"
    "\t#zip:\"c:\\backups\\De Backup.tqzip\" #using full path\r\n"
    "\tzip:\"c:\\backups\" #using folder\r\n"
    "\r\n"
    "\t\r\n"
    "\t#you may have as many dir: to: exclude: sets as you want\r\n"
    "\t\r\n"
    "\t#Directory to backup\r\n"
    "\tdir:\"c:\\\"\r\n"
    "\t#Folder in ZipDrive to backup to\r\n"
    "\tto:\"HardDrive\"\r\n"
    "\t\r\n"
    "\t#all include paths are relative to dir: folder\r\n"
    "\t#\r\n"
    "\texclude:\"dir1\"  \t #Don't include the halvex\r\n"
    "\texclude:\"dir2\\*\\debug\"\t #Don't include and file/folder named debug inside of dir2\r\n"
    "\t#\r\n"
    "\t#NOTE: wildcards are not restricted to one directory level.\r\n"
    "\t#eg: the folder c:\\dir2\\hello\\good bye\\debug  would be ignored because of the obove exclude\r\n"
    "\r\n"
    "\tdir:\"c:\\dir1\"\r\n"
    "\tto:\"dir1\"\r\n"
    "\r\n"
    "\t#Uncomment to encrypt the job's archives with the password in this file (make one with\r\n"
    "\t#halvex-backup --new-password FILE, and keep a copy of it away from the backups):\r\n"
    "\t#encrypt:\"/home/me/.halvex-key\"\r\n"
    "\r\n"
    "# end of job: default.\r\n"
    "\r\n"
    "\x1a";

}  // namespace

const std::string_view kExampleBackupIniText(kText, sizeof kText - 1);

}  // namespace halvex
