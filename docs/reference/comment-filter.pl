#!/usr/bin/perl
# Doxygen's input filter for the public headers: the headers are commented
# in plain // comments, written for the reader of the header; this turns
# them into documentation comments without touching the headers, and keeps
# every line where it is, so Doxygen's warnings name the right lines.
#
#   - the opening comment block (before the include guard) documents the
#     file;
#   - a comment on lines of its own documents what follows it, unless a
#     blank line follows it: then it speaks of a group of lines;
#   - a comment after code on the same line documents that line's member;
#   - a declaration without a comment of its own that directly follows a
#     declaration of the same name (an overload set under one comment) is
#     documented as an overload of it.
use strict;
use warnings;

# Comment text is prose, not Doxygen markup: backslashes (DOS names such as
# C:\dir) and angle brackets (<program file>) are shown as they are.
sub prose {
  my ($text) = @_;
  # Lines set in by two or more blanks (examples, tables) are code: four
  # blanks make a code block.
  $text =~ s{^(  +)(?=\S)}{$1  };
  $text =~ s{\\}{\\\\}g;
  $text =~ s{([<>])}{\\$1}g;
  return $text;
}

my $in_head = 1;      # still in the file's opening comment
my @head;             # its lines
my $prev_name = '';   # function declared on the previous code line
my $commented = 0;    # the previous line was a comment
my @block;            # the comment lines read since the last code line

while (my $line = <>) {
  if ($in_head) {
    if ($line =~ m{^\s*//}) {
      $line =~ s{^(\s*)//(.*)}{$1 . '///' . prose($2)}e;
      push @head, $line;
      next;
    }
    # \file at the end of the block's last line: a command of its own
    # line would shift the lines after it.
    $head[-1] =~ s{\n$}{ \\file\n} if @head;
    print @head;
    $in_head = 0;
  }
  if ($line =~ m{^\s*//(?!/)}) {
    $line =~ s{^(\s*)//(.*)}{$1 . '///' . prose($2)}e;
    push @block, $line;
    next;
  }
  if (@block) {
    # A comment with a blank line after it speaks of the lines that follow
    # as a group: kept as a plain comment, it documents none of them.
    s{^(\s*)///}{$1//} for ($line =~ /\S/ ? () : @block);
    print @block;
    $commented = $line =~ /\S/;
    @block = ();
  }
  if ($line =~ m{^(?!\s*#)(.*?\S.*?)\s*//(?!/)\s?(.*)$} && $1 !~ /"/) {
    $line = "$1  ///< " . prose($2) . "\n";
  }
  my ($name) = $line =~ m{^\s*(?:virtual\s+|static\s+|explicit\s+)*[\w:<>*&\s]*?\b(operator\s*\S+?|~?\w+)\s*\(};
  if (defined $name && $line !~ m{^\s*(?:return|if|for|while|switch)\b}) {
    if (!$commented && $name eq $prev_name && $line !~ m{///}) {
      $line =~ s{^(\s*)}{$1/** \\overload */ };
    }
    $prev_name = $name;
  } elsif ($line =~ /\S/ && $line !~ m{^\s*[{}]}) {
    $prev_name = '' if $line =~ /;\s*$/ && $line !~ /,\s*$/ && $line =~ /^\s*\w/ && $line !~ /\)/;
  }
  $commented = 0 if $line =~ /\S/;
  print $line;
}
print @block;
