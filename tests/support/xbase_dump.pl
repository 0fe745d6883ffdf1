#!/usr/bin/perl
# Lists a table in the order of one tag of its production index, and seeks keys in that tag, as
# Debian's XBase module (libdbd-xbase-perl) reads them; for the C++ tests (tests/support/XBaseRead.h).
#
# Usage: xbase_dump.pl TABLE.DBF INDEX.MDX TAG [KEY ...]   (INDEX "-": file order, no seeks)
# Output, one item a line: "R n v1|v2|..." for each live record in tag order (n = record number
# from 1, values as stored, trailing blanks removed), then "S n" for each KEY: the record that a
# seek for KEY lands on (the first whose key is equal or greater), or "S -" past the end. Bytes go
# out as they are stored. A reader error goes to stderr and the exit status is 1.

use strict;
use warnings;
use XBase;

sub fail { print STDERR "XBase: @_\n"; exit 1; }

@ARGV >= 3 or do { print STDERR "usage: xbase_dump.pl TABLE.DBF INDEX.MDX TAG [KEY ...]\n"; exit 2; };
my ($dbf, $mdx, $tag, @keys) = @ARGV;

my $table = XBase->new($dbf) or fail("$dbf: " . XBase->errstr);
my @names = $table->field_names;

sub line { return join("|", map { defined $_ ? $_ : "" } @_); }

# INDEX "-" lists the live records in file order, for a table that announces no index.
my $cursor = $mdx eq "-"
    ? $table->prepare_select(@names)
    : $table->prepare_select_with_index([$mdx, $tag], @names);
$cursor or fail("$mdx $tag: " . $table->errstr);
binmode STDOUT;
while (my @values = $cursor->fetch) {
    print "R ", $cursor->last_fetched + 1, " ", line(@values), "\n";
}
for my $key (@keys) {
    my $seek = $table->prepare_select_with_index([$mdx, $tag], @names)
        or fail("$mdx $tag: " . $table->errstr);
    $seek->find_eq($key);
    my @values = $seek->fetch;
    print "S ", (@values ? $seek->last_fetched + 1 : "-"), "\n";
}
exit 0;
