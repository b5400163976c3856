#!/usr/bin/perl
# Writes a record database with Palm::PDB from a description read on stdin,
# one item a line (hex fields may be empty):
#   name <name>
#   type <4 chars>
#   creator <4 chars>
#   version <n>
#   created <u32 as stored>
#   modified <u32 as stored>
#   modnum <n>
#   seed <n>
#   appinfo <hex>
#   sort <hex>
#   record <attributes byte> <unique id> <hex>
# Usage: pdb_write.pl FILE
use strict;
use warnings;
use Palm::PDB;
use Palm::Raw;

my $pdb = Palm::Raw->new;
$pdb->{records} = [];
while (my $line = <STDIN>) {
  chomp $line;
  my ($key, @rest) = split / /, $line, -1;
  if ($key eq 'name') {
    $pdb->{name} = join ' ', @rest;
  } elsif ($key eq 'type' || $key eq 'creator') {
    $pdb->{$key} = $rest[0];
  } elsif ($key eq 'version' || $key eq 'modnum') {
    $pdb->{$key} = $rest[0];
  } elsif ($key eq 'seed') {
    $pdb->{uniqueIDseed} = $rest[0];
  } elsif ($key eq 'created') {
    $pdb->{ctime} = $rest[0] - Palm::PDB::EPOCH_1904;
  } elsif ($key eq 'modified') {
    $pdb->{mtime} = $rest[0] - Palm::PDB::EPOCH_1904;
  } elsif ($key eq 'appinfo' || $key eq 'sort') {
    $pdb->{$key} = pack 'H*', $rest[0] // '';
  } elsif ($key eq 'record') {
    my ($byte, $id, $hex) = @rest;
    my $r = Palm::PDB->new_Record;
    $r->{attributes} = {};
    $r->{attributes}{dirty} = 1 if $byte & 0x40;
    $r->{attributes}{private} = 1 if $byte & 0x10;
    $r->{category} = $byte & 0x0f;
    $r->{id} = $id;
    $r->{data} = pack 'H*', $hex // '';
    push @{$pdb->{records}}, $r;
  } else {
    die "unknown line: $line\n";
  }
}
# Palm::PDB reports empty records on stdout while writing; keep stdout clean.
open my $saved, '>&', \*STDOUT or die;
open STDOUT, '>', '/dev/null' or die;
$pdb->Write($ARGV[0]) or die "cannot write $ARGV[0]\n";
open STDOUT, '>&', $saved or die;
