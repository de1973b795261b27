#!/usr/bin/perl
# Doxygen's input filter for the guide pages (docs/*.md), so that they read
# in the reference as they do on their own, line for line:
#   - outside code blocks, apostrophes and double quotes become entities:
#     Doxygen's Markdown reader otherwise takes them for the quotes of a
#     character or string literal and loses the end of a code span; so does
#     "<", which it would take for an HTML tag ("<undefined>");
#   - headings get labels (page-heading), and links to a heading of the
#     same page ("#heading") point at them: Doxygen makes no labels itself;
#   - links to reference/mainpage.md lead to the reference's index page.
use strict;
use warnings;

my ($page) = ($ARGV[0] // '') =~ m{([^/]+)\.md$};
$page //= 'page';
my $fence = 0;
while (my $line = <>) {
  if ($line =~ /^\s*```/) {
    $fence = !$fence;
    print $line;
    next;
  }
  if (!$fence) {
    $line =~ s/'/&apos;/g;
    $line =~ s/"/&quot;/g;
    $line =~ s/</&lt;/g;
    if ($line =~ /^(#{2,6})\s+(.*?)\s*$/) {
      my ($marks, $title) = ($1, $2);
      (my $slug = lc $title) =~ s/[^a-z0-9]+/_/g;
      $slug =~ s/^_|_$//g;
      $line = "$marks $title {#${page}_$slug}\n";
    }
    $line =~ s/\]\(#([^)]+)\)/](#${page}_$1)/g;
    # The reference's main page is the index page there.
    $line =~ s{\]\((?:\.\./)?reference/mainpage\.md\)}{](\@ref index)}g;
  }
  print $line;
}
