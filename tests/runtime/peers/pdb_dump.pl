#!/usr/bin/perl
# Reads a record database with Palm::PDB and prints it in a plain form:
#   name=<name>
#   type=<type> creator=<creator> version=<n> created=<u32> modified=<u32> modnum=<n>
#     seed=<n>    (one line)
#   appinfo=<hex>
#   sort=<hex>
#   count=<n>
#   <attributes byte> <unique id> <data in hex>     (one line per record)
# Usage: pdb_dump.pl FILE
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;

my $pdb = Palm::PDB->new;
$pdb->Load($ARGV[0]) or die "cannot load $ARGV[0]\n";

# The attributes byte as stored, rebuilt from the parsed flags.
sub attribute_byte {
  my ($r) = @_;
  my $a = $r->{attributes};
  my $byte = 0;
  $byte |= 0x80 if $a->{expunged};
  $byte |= 0x40 if $a->{dirty};
  $byte |= 0x20 if $a->{deleted};
  $byte |= 0x10 if $a->{private};
  if ($byte & 0xa0) {
    $byte |= 0x08 if $a->{archive};
  } else {
    $byte |= ($r->{category} // 0) & 0x0f;
  }
  return $byte;
}

my $epoch = Palm::PDB::EPOCH_1904;
print "name=$pdb->{name}\n";
printf "type=%s creator=%s version=%d created=%u modified=%u modnum=%u seed=%u\n",
  $pdb->{type}, $pdb->{creator}, $pdb->{version}, ($pdb->{ctime} + $epoch) & 0xffffffff,
  ($pdb->{mtime} + $epoch) & 0xffffffff, $pdb->{modnum}, $pdb->{uniqueIDseed};
print "appinfo=", unpack("H*", $pdb->{appinfo} // ""), "\n";
print "sort=", unpack("H*", $pdb->{sort} // ""), "\n";
my @records = @{$pdb->{records} // []};
print "count=", scalar(@records), "\n";
for my $r (@records) {
  printf "%d %d %s\n", attribute_byte($r), $r->{id}, unpack("H*", $r->{data} // "");
}
