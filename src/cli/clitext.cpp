#include "cli/clitext.h"

#include "cli/version.h"

namespace korvalo::cli::text {

std::string help()
{
    return "用法：korvalo-cli 命令 文件夹 [选项]\n"
           "\n"
           "给文件夹里每个 Mp3 和 Flac 文件的名字前加上随机的四位序号（1000～9999），让按文件名\n"
           "顺序播放的播放器按随机顺序播放；也可以把序号去掉。只改这些文件的名字，从不覆盖别的文"
           "件。\n"
           "\n"
           "命令：\n"
           "  list 文件夹      列出音乐文件（顺序和窗口里一样）和数量\n"
           "  shuffle 文件夹   随机排序：给每个文件名前加上随机序号\n"
           "  remove 文件夹    删除排序：去掉文件名开头的四位数字\n"
           "  status 文件夹    显示有多少个文件名带着 Korvalo 写的序号，以及有没有没完成的改名\n"
           "  status           列出改名记录里所有没完成的改名\n"
           "  recover 文件夹 --undo | --finish | --leave\n"
           "                   处理一次没完成的改名：--undo "
           "把已改的文件名改回原样（只用于随机排序），\n"
           "                   --finish 做完剩下的文件，--leave 保持现状\n"
           "                   （这个文件夹的记录损坏时，--leave 把它另存一份后清除）\n"
           "\n"
           "选项：\n"
           "  --dry-run               只显示会怎样改名，不改任何文件名（显示的序号只是示例）\n"
           "  --replace               shuffle：文件名开头已有序号时（Korvalo 写的，或像是在另一台\n"
           "                          电脑上写的），把这四位数字换成新的序号，一次换成新的顺序\n"
           "  --again                 shuffle：文件名开头已有序号时，仍在前面再加一个\n"
           "  --keep-original-digits  remove：只去掉 Korvalo "
           "写的数字，文件名原有的四位数字保留（默认）\n"
           "  --strip-all             remove：去掉所有文件名开头的四位数字\n"
           "  -h, --help              显示这个帮助\n"
           "  -V, --version           显示版本\n"
           "\n"
           "在终端里运行时，遇到需要确认的情况会提问，直接按回车选默认答案。不在终端里运行又没有给"
           "出\n"
           "选项时，按稳妥的方式处理：文件名原有的四位数字保留；不给已带序号的文件名再加一个（这"
           "时\n"
           "什么也不改，退出状态为 3）。按 Ctrl-C 会在正在改名的文件改完后停止，之后可以用 "
           "recover\n"
           "处理；在整理存放顺序时按 Ctrl-C，不再移出文件，已经移出的文件移回原处后停止。\n"
           "\n"
           "退出状态：\n"
           "  0    完成\n"
           "  1    有文件无法改名，或有文件留在了临时文件夹里\n"
           "  2    用法错误，或文件夹无法读取\n"
           "  3    拒绝执行，没有改任何文件名：另一个 Korvalo 正在处理这个磁盘，U盘是用 fusefat\n"
           "       驱动挂载的，已取消，有一次没完成的改名要先用 recover 处理，或 Korvalo "
           "的记录无法写入\n"
           "  130  按 Ctrl-C 停止\n";
}

std::string version()
{
    return std::string("korvalo-cli (") + KORVALO_CLI_NAME + ") " + KORVALO_CLI_VERSION + '\n';
}

} // namespace korvalo::cli::text
