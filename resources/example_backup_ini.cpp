// SPDX-License-Identifier: GPL-3.0-or-later
#include "resources/example_backup_ini.h"

namespace halvex {

namespace {

// 49 lines, each ended by CR LF, tabs and comments as users see them in their editor.
// "@HOME@" stands for the user's home folder, put in when the file is written.
constexpr char kText[] =
    "[global]\r\n"
    "\t#global exclude filters\r\n"
    "\texclude:\"*.tmp\"\r\n"
    "\texclude:\"*~\"\r\n"
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
    "\t#zip:\"@HOME@/Backups/Default Backup.tqzip\" #using full path\r\n"
    "\tzip:\"@HOME@/Backups\" #using folder\r\n"
    "\r\n"
    "\t\r\n"
    "\t#you may have as many dir: to: exclude: sets as you want\r\n"
    "\t\r\n"
    "\t#Directory to backup\r\n"
    "\tdir:\"@HOME@/Documents\"\r\n"
    "\t#Folder in the archive to backup to\r\n"
    "\tto:\"Documents\"\r\n"
    "\t\r\n"
    "\t#all exclude paths are relative to the dir: folder\r\n"
    "\t#\r\n"
    "\texclude:\"Drafts\"  \t #Don't include the Drafts folder\r\n"
    "\texclude:\"Projects/*/build\"\t #Don't include any file/folder named build inside of Projects\r\n"
    "\t#\r\n"
    "\t#NOTE: wildcards are not restricted to one directory level.\r\n"
    "\t#eg: the folder @HOME@/Documents/Projects/hello/good bye/build would be ignored because of the above exclude\r\n"
    "\r\n"
    "\tdir:\"@HOME@/Pictures\"\r\n"
    "\tto:\"Pictures\"\r\n"
    "\t#Uncomment below to copy the archives off-site after every backup, with rclone:\r\n"
    "\t#a remote and path set up with 'rclone config', or a folder. One per job.\r\n"
    "\t#copyto:\"offsite:backups/Default\"\r\n"
    "\r\n"
    "\t#Uncomment to encrypt the job's archives with the password in this file (make one with\r\n"
    "\t#halvex-backup --new-password FILE, and keep a copy of it away from the backups):\r\n"
    "\t#encrypt:\"@HOME@/.halvex-key\"\r\n"
    "\r\n"
    "\t#How hard the job's files are deflated: 1 (fastest) to 9 (smallest, the default), or\r\n"
    "\t#\"store\" to keep them as they are. Restoring works the same at any level. One per job.\r\n"
    "\t#level:\"6\"\r\n"
    "\r\n"
    "# end of job: default.\r\n"
    "\r\n"
    "\x1a";

}  // namespace

const std::string_view kExampleBackupIniText(kText, sizeof kText - 1);

}  // namespace halvex
