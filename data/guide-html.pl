#!/usr/bin/perl
# Makes the user guide's HTML page from its Markdown text:
#
#   perl guide-html.pl CMARK_GFM GUIDE.md OUTPUT.html
#
# cmark-gfm converts the text in GitHub's dialect of Markdown, with its tables and its links
# made of bare addresses. Its headings then get the ids GitHub gives them, so that the
# guide's contents (links such as #1-установка-и-запуск) lead where they do on GitHub, and
# the page gets a frame: the guide's first heading as its title, Russian as its language and
# a few rules of style for the tables and pictures. Every picture the page shows must lie
# beside the guide (img/...), as it is installed. Nothing in the page depends on when or
# where it was made. Only Perl's core is used (Debian's perl-base).
use strict;
use warnings;

my ($cmark, $markdown, $output) = @ARGV;
die "usage: guide-html.pl CMARK_GFM GUIDE.md OUTPUT.html\n" unless defined $output;

open(my $converter, '-|', $cmark, '--extension', 'table', '--extension', 'autolink',
     '--to', 'html', $markdown) or die "guide-html: cannot run $cmark: $!\n";
binmode($converter, ':utf8');
my $body = do { local $/; <$converter> };
close($converter) or die "guide-html: $cmark failed on $markdown\n";

# The text of a piece of markup, without its tags and character references.
sub PlainText {
    my ($html) = @_;
    $html =~ s/<[^>]*>//g;
    $html =~ s/&#?\w+;//g;
    return $html;
}

# GitHub's id for a heading: its text in lower case, without punctuation and symbols, a
# hyphen for each blank; a repeated id gets -1, -2 ... in the order of the headings.
my %headings;
sub HeadingId {
    my $id = lc PlainText($_[0]);
    $id =~ s/[^\w\- ]//g;
    $id =~ tr/ /-/;
    my $seen = $headings{$id}++;
    return $seen ? "$id-$seen" : $id;
}
$body =~ s{<h([1-6])>(.*?)</h\1>}{"<h$1 id=\"" . HeadingId($2) . "\">$2</h$1>"}ges;

my ($title) = $body =~ m{<h1[^>]*>(.*?)</h1>}s or die "guide-html: $markdown has no heading\n";
$title = PlainText($title);

(my $folder = $markdown) =~ s{[^/]*$}{};
for my $picture ($body =~ m{<img src="([^"]*)"}g) {
    -f "$folder$picture" or die "guide-html: $markdown shows $picture, which is not beside it\n";
}

my $page = <<"END";
<!DOCTYPE html>
<html lang="ru">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>$title</title>
<style>
body { font-family: sans-serif; line-height: 1.45; max-width: 62em; margin: 0 auto; padding: 0 1em 2em; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #aaa; padding: 0.25em 0.6em; vertical-align: top; }
th { background: #eee; }
img { max-width: 100%; }
pre { background: #f4f4f4; padding: 0.6em; overflow-x: auto; }
code { font-size: 0.95em; }
</style>
</head>
<body>
$body</body>
</html>
END

open(my $out, '>:utf8', "$output.tmp") or die "guide-html: cannot write $output.tmp: $!\n";
print $out $page;
close($out) or die "guide-html: cannot write $output.tmp: $!\n";
rename("$output.tmp", $output) or die "guide-html: cannot write $output: $!\n";
